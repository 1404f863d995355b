#pragma once

// Answers the modal dialogs a window test meets, from a script: each step
// names a text the dialog must show and the button to press (and the text
// to type into its input line). Every dialog is recorded with its title,
// text and buttons. A dialog no step expects is answered with "Abbrechen",
// "Nein" or "OK" (whichever it has) and noted as unexpected, so that a test
// never hangs on a dialog.
//
//   DialogScript script;
//   script.Answer("endgültig löschen?", "Ja");
//   ... trigger the action ...
//   EXPECT_TRUE(script.Done()) << script.Report();

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

class DialogScript : public QObject {
public:
    struct Seen {
        std::string title;
        std::string text;
        std::vector<std::string> buttons;
    };

    DialogScript() { qApp->installEventFilter(this); }
    ~DialogScript() override { qApp->removeEventFilter(this); }

    // The next dialog must show `text` (a part of its text; "" takes any);
    // `button` is pressed ("" closes a dialog without buttons). With input,
    // it is typed into the dialog's input line first.
    DialogScript& Answer(std::string text, std::string button, std::optional<std::string> input = std::nullopt) {
        steps_.push_back({std::move(text), std::move(button), std::move(input)});
        return *this;
    }

    // Windows the test drives itself (by object name) are left alone.
    DialogScript& Ignore(std::string objectName) {
        ignored_.push_back(std::move(objectName));
        return *this;
    }

    const std::vector<Seen>& SeenDialogs() const { return seen_; }
    bool Done() const { return steps_.empty() && unexpected_.empty(); }
    std::string Report() const {
        std::string r;
        for (const auto& u : unexpected_) r += "unerwartet: " + u + "\n";
        for (const auto& s : steps_) r += "nicht erschienen: " + s.text + "\n";
        return r;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        // The busy dialog only waits; the program closes it itself.
        if (!dialog || dialog->objectName() == QLatin1String("formBusy")) return false;
        for (const std::string& name : ignored_)
            if (dialog->objectName().toStdString() == name) return false;
        QPointer<QDialog> d(dialog);
        QTimer::singleShot(0, this, [this, d] {
            if (d && d->isVisible()) Handle(d);
        });
        return false;
    }

private:
    struct Step {
        std::string text;
        std::string button;
        std::optional<std::string> input;
    };

    static std::string Plain(const QString& s) {
        QString t = s;
        t.remove(u'&');
        return t.toStdString();
    }

    void Handle(QDialog* d) {
        Seen seen;
        seen.title = d->windowTitle().toStdString();
        if (auto* box = qobject_cast<QMessageBox*>(d)) {
            seen.text = box->text().toStdString();
        } else {
            for (auto* l : d->findChildren<QLabel*>())
                if (l->isVisible() && !l->text().isEmpty()) seen.text += l->text().toStdString() + "\n";
            for (auto* t : d->findChildren<QPlainTextEdit*>())
                if (t->isVisible()) seen.text += t->toPlainText().toStdString();
        }
        std::vector<QAbstractButton*> buttons;
        for (auto* b : d->findChildren<QPushButton*>())
            if (b->isVisible()) {
                buttons.push_back(b);
                seen.buttons.push_back(Plain(b->text()));
            }
        seen_.push_back(seen);

        if (!steps_.empty() && seen.text.find(steps_.front().text) != std::string::npos) {
            const Step step = steps_.front();
            steps_.erase(steps_.begin());
            if (step.input)
                if (auto* edit = d->findChild<QLineEdit*>()) edit->setText(QString::fromStdString(*step.input));
            if (step.button.empty()) {
                d->done(QDialog::Rejected);
                return;
            }
            for (QAbstractButton* b : buttons)
                if (Plain(b->text()) == step.button) {
                    b->click();
                    return;
                }
            unexpected_.push_back("kein Knopf \"" + step.button + "\" in: " + seen.text);
        } else {
            unexpected_.push_back(seen.title + ": " + seen.text);
        }
        for (const char* safe : {"Abbrechen", "Nein", "OK"})
            for (QAbstractButton* b : buttons)
                if (Plain(b->text()) == safe) {
                    b->click();
                    return;
                }
        d->done(QDialog::Rejected);
    }

    std::vector<Step> steps_;
    std::vector<Seen> seen_;
    std::vector<std::string> unexpected_;
    std::vector<std::string> ignored_;
};
