#pragma once

// Pieces the entry and master-data windows share: the user interface the
// logic classes talk through (message boxes, the input dialog, the text
// view), the grid over a table with its navigator, and a form's Enter key
// moving the cursor on.

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "lib/base/UserInterface.h"

class QPushButton;
class QTableView;

namespace brenvo {

// IUserInterface in message boxes with German buttons, the input dialog
// TfrmInput and the text dialog TformModal, over a parent window.
class TWindowUI : public IUserInterface {
public:
    explicit TWindowUI(QWidget* parent) : parent_(parent) {}
    void ShowMessage(MessageKind kind, const std::string& text, const std::string& title = {}) override;
    Answer Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
               const std::string& title = {}) override;
    bool InputQuery(const std::string& title, const std::vector<std::string>& explanation, const std::string& caption,
                    std::string& value) override;
    void ShowText(const std::string& title, const std::string& text) override;

private:
    QPointer<QWidget> parent_;
};

// A grid of whole rows, one row high each, for a table model.
QTableView* NewGrid(const char* objectName);

// The navigator of an editable grid: "Einfügen", "Löschen", "Übernehmen"
// (the cell being edited is stored), "Verwerfen" (it is dropped).
struct TNavigatorButtons {
    QWidget* bar = nullptr;
    QPushButton* insert = nullptr;
    QPushButton* remove = nullptr;
    QPushButton* post = nullptr;
    QPushButton* cancel = nullptr;
};
TNavigatorButtons NewNavigator(QTableView* grid, const QString& namePrefix, std::function<void()> insert,
                               std::function<void()> remove);

} // namespace brenvo
