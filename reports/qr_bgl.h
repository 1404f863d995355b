#pragma once

// The accompanying-slip report ("Begleitzettel"): the controller hands it the
// order table filtered to the orders wanted (the outbox's and the order
// archive's slip printing), and it prints them on the printer chosen under
// "Druckereinstellung" or shows them in the print preview.

#include <QPointer>
#include <QWidget>

#include "mainwindow/OrderActions.h"

class QPrinter;

namespace brenvo {

class TMainController;

class TqrBGLForm : public ISlipReport {
public:
    TqrBGLForm(TMainController& controller, QPrinter& printer, QWidget* parent = nullptr);

    // One slip per visible row of the table; no rows, nothing printed or shown.
    void Run(Table& orders, bool preview) override;

private:
    TMainController& controller_;
    QPrinter& printer_;
    QPointer<QWidget> parent_;
};

} // namespace brenvo
