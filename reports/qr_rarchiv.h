#pragma once

// The print-list window of the reports (TQRListForm): prints the invoice
// archive as the archive view shows it, filtered or not, through the print
// preview. One object lives as long as the program.

#include <QPointer>
#include <QWidget>

#include <string>

class QPrinter;

namespace brenvo {

class Table;

class TQRListForm {
public:
    TQRListForm(QPrinter& printer, QWidget* parent = nullptr);

    // The view's table with its filter and order, and its title
    // (ArchiveListTitle).
    void Preview(Table& invoices, const std::string& title);
    void Print(Table& invoices, const std::string& title);

private:
    QPrinter& printer_;
    QPointer<QWidget> parent_;
};

} // namespace brenvo
