#include "entry/qt_Muster4.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <vector>

namespace brenvo {

namespace {

// The form is drawn in millimetres of an A5 sheet in landscape.
constexpr double kWidth = 210.0;
constexpr double kHeight = 148.0;

const QColor kPaper(253, 236, 239);
const QColor kInk(196, 40, 72);
const QColor kPrint(20, 30, 120);

// A box of the form that a field of the case is printed into.
struct FieldBox {
    const char* field;
    QRectF rect;       // in mm
    const char* label;
    const char* hint;
};

const std::vector<FieldBox>& Boxes() {
    static const std::vector<FieldBox> boxes = {
        {"KTName", {8, 14, 92, 8}, "Krankenkasse bzw. Kostenträger", "Kostenträger"},
        {"Nachname", {8, 28, 64, 7}, "Name, Vorname des Versicherten", "Patient Nachname"},
        {"Geb", {74, 28, 26, 7}, "geb. am", "Patient Geburtstag"},
        {"Vorname", {8, 35, 64, 6}, nullptr, "Patient Vorname"},
        {"Strasse", {8, 41, 92, 6}, nullptr, "Patient Strasse"},
        {"Plz", {8, 47, 18, 6}, nullptr, "Patient PLZ"},
        {"Ort", {28, 47, 72, 6}, nullptr, "Patient Ort"},
        {"IKPat", {8, 58, 30, 7}, "Kostenträgerkennung", "Patient IK der Krankenkasse"},
        {"VersNum", {40, 58, 38, 7}, "Versicherten-Nr.", "Patient Versichertennummer"},
        {"Status", {80, 58, 20, 7}, "Status", "Patient Status"},
        {"BSN", {8, 71, 30, 7}, "Betriebsstätten-Nr.", "Betriebsstättennummer"},
        {"ArztN", {40, 71, 30, 7}, "Arzt-Nr.", "Arztnummer"},
        {"VODatum", {72, 71, 28, 7}, "Datum", "Ausstellungsdatum der Verordnung"},
    };
    return boxes;
}

// The check boxes of the form's left column and the codes that tick them.
struct Tick {
    const char* field;
    const char* value;
    const char* label;
    double y;
};

const std::vector<Tick>& Ticks() {
    static const std::vector<Tick> ticks = {
        {"Unfall", "2", "Unfall, Unfallfolgen", 16},
        {"Unfall", "1", "Arbeitsunfall, Berufskrankheit", 24},
        {"BVG", "6", "Versorgungsleiden (z. B. BVG)", 32},
        {"Unfall", "3", "Sonstiges (BVFG, BEG, HHG, OEG, IfSG, SVG)", 40},
    };
    return ticks;
}

} // namespace

TMuster4View::TMuster4View(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("imgVerordnung"));
    setMinimumSize(420, 300);
    setMouseTracking(true);
}

void TMuster4View::SetValues(std::map<std::string, QString> values) {
    values_ = std::move(values);
    update();
}

QString TMuster4View::Hint(const std::string& field) {
    for (const FieldBox& b : Boxes())
        if (field == b.field) return QString::fromUtf8(b.hint);
    if (field == "Unfall") return QStringLiteral("Unfall");
    if (field == "BVG") return QStringLiteral("BVG/SER");
    return {};
}

QTransform TMuster4View::FormToWidget() const {
    const double scale = std::min((width() - 8) / kWidth, (height() - 8) / kHeight);
    const double x = (width() - kWidth * scale) / 2, y = (height() - kHeight * scale) / 2;
    QTransform t;
    t.translate(x, y);
    t.scale(scale, scale);
    return t;
}

bool TMuster4View::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const QPointF at = FormToWidget().inverted().map(QPointF(help->pos()));
        for (const FieldBox& b : Boxes())
            if (b.rect.contains(at)) {
                QToolTip::showText(help->globalPos(), QString::fromUtf8(b.hint), this);
                return true;
            }
        QToolTip::hideText();
        e->ignore();
        return true;
    }
    return QWidget::event(e);
}

void TMuster4View::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().window());
    p.setTransform(FormToWidget());

    // The sheet.
    p.setPen(QPen(kInk, 0.35));
    p.setBrush(kPaper);
    p.drawRect(QRectF(0, 0, kWidth, kHeight));
    p.setBrush(Qt::NoBrush);

    QFont label(QStringLiteral("Liberation Sans"));
    label.setPointSizeF(2.2);
    QFont title = label;
    title.setPointSizeF(3.5);
    title.setBold(true);
    QFont heading = label;
    heading.setPointSizeF(2.8);
    heading.setBold(true);
    QFont print(QStringLiteral("Liberation Mono"));
    print.setPointSizeF(3.2);

    auto text = [&](const QRectF& r, const QString& s, const QFont& f, int flags = Qt::AlignLeft | Qt::AlignTop) {
        p.setFont(f);
        p.drawText(r, flags, s);
    };

    // Head of the form.
    p.setPen(kInk);
    text(QRectF(106, 5, 98, 8), QStringLiteral("Verordnung einer Krankenbeförderung"), title);
    text(QRectF(192, 1.5, 16, 4), QStringLiteral("Muster 4"), label, Qt::AlignRight | Qt::AlignTop);

    // Insured person's block with its boxes.
    p.setPen(QPen(kInk, 0.3));
    p.drawRect(QRectF(6, 10, 96, 70));
    for (const FieldBox& b : Boxes()) {
        if (b.label) text(QRectF(b.rect.left(), b.rect.top() - 3.2, b.rect.width() + 10, 3.2), QString::fromUtf8(b.label), label);
        if (b.rect.top() >= 55) p.drawRect(b.rect);
    }
    p.drawLine(QPointF(6, 24), QPointF(102, 24));
    p.drawLine(QPointF(6, 54), QPointF(102, 54));
    p.drawLine(QPointF(6, 67), QPointF(102, 67));

    // Accident and pension boxes.
    for (const Tick& t : Ticks()) {
        const QRectF box(108, t.y, 3.5, 3.5);
        p.setPen(QPen(kInk, 0.3));
        p.drawRect(box);
        text(QRectF(113, t.y - 0.2, 90, 4), QString::fromUtf8(t.label), label);
        auto it = values_.find(t.field);
        if (it != values_.end() && it->second == QString::fromUtf8(t.value)) {
            p.setPen(QPen(kPrint, 0.5));
            p.drawLine(box.topLeft(), box.bottomRight());
            p.drawLine(box.topRight(), box.bottomLeft());
        }
    }

    // The parts the doctor fills in; shown for orientation only.
    p.setPen(QPen(kInk, 0.3));
    const struct {
        const char* heading;
        QRectF rect;
        std::vector<const char*> options;
    } parts[] = {
        {"1. Grund der Beförderung", {6, 84, 96, 28},
         {"Hinfahrt", "Rückfahrt", "voll-/teilstationäre Krankenhausbehandlung", "ambulante Behandlung",
          "anderer Grund"}},
        {"2. Behandlungstag / Behandlungsfrequenz", {106, 48, 98, 22},
         {"vom / am", "bis voraussichtlich", "x pro Woche"}},
        {"3. Art und Ausstattung der Beförderung", {106, 74, 98, 38},
         {"Taxi/Mietwagen", "Rollstuhl", "Tragestuhl", "liegend", "KTW", "RTW", "NAW/NEF", "andere"}},
        {"Begründung / Sonstiges", {6, 116, 96, 26}, {}},
        {"Vertragsarztstempel / Unterschrift des Arztes", {106, 116, 98, 26}, {}},
    };
    for (const auto& part : parts) {
        p.setPen(QPen(kInk, 0.3));
        p.drawRect(part.rect);
        text(part.rect.adjusted(1.5, 1, -1, -1), QString::fromUtf8(part.heading), heading);
        double x = part.rect.left() + 2, y = part.rect.top() + 6;
        for (const char* o : part.options) {
            const double w = 4.5 + 1.75 * double(QString::fromUtf8(o).size());
            if (x + w > part.rect.right()) {
                x = part.rect.left() + 2;
                y += 5.5;
            }
            p.drawRect(QRectF(x, y, 3, 3));
            text(QRectF(x + 4, y - 0.3, w, 4), QString::fromUtf8(o), label);
            x += w + 2;
        }
    }

    // The case's values, as a printer puts them on the form.
    p.setPen(kPrint);
    for (const FieldBox& b : Boxes()) {
        auto it = values_.find(b.field);
        if (it == values_.end() || it->second.isEmpty()) continue;
        text(b.rect.adjusted(1, 0.6, -0.5, 0), it->second, print, Qt::AlignLeft | Qt::AlignVCenter);
    }
}

} // namespace brenvo
