#pragma once

// The prescription form for patient transport (Muster 4, "Verordnung einer
// Krankenbeförderung") drawn by the program, with the case's values printed
// over its boxes: the "Bild" page of the invoice entry window. The form
// keeps its proportions at any size; a box's hint shows when the mouse
// rests on it.

#include <QWidget>

#include <map>
#include <string>

namespace brenvo {

class TMuster4View : public QWidget {
    Q_OBJECT
public:
    explicit TMuster4View(QWidget* parent = nullptr);

    // The values by field name (Nachname, Vorname, Geb, Strasse, Plz, Ort,
    // VersNum, Status, ArztN, BSN, VODatum, Unfall, BVG, and KTName/IKPat
    // for the insurer box); missing fields stay empty.
    void SetValues(std::map<std::string, QString> values);
    const std::map<std::string, QString>& Values() const { return values_; }
    // The hint of a field's box ("Patient Geburtstag", ...).
    static QString Hint(const std::string& field);

    QSize sizeHint() const override { return {780, 540}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QTransform FormToWidget() const;

    std::map<std::string, QString> values_;
};

} // namespace brenvo
