#include "reports/InvoiceReport.h"

#include <algorithm>
#include <memory>

#include "billing/InvoiceDocument.h"
#include "billing/PositionBetrag.h"
#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

constexpr double kDesignedFooterHeight = 25.4;   // mm
constexpr double kMmPerScreenPixel = 25.4 / 96.0;

// Where things stand on the page, in millimetres from the content's left
// edge (the left margin) or from the paper's top edge.
namespace col {
constexpr double Datum = 0;
constexpr double Strecke = 22;
constexpr double PosNr = 50;
constexpr double Text = 68;
constexpr double UStEnd = 128;
constexpr double PreisEnd = 150;
constexpr double AnzEnd = 163;
} // namespace col
constexpr double kWindowLeft = 7.3;      // the envelope's window begins 20 mm from the paper's edge
constexpr double kWindowWidth = 85;
constexpr double kSenderTop = 57;        // the sender line, just above the address in the window
constexpr double kAddressTop = 62.5;
constexpr double kCostBearerTop = 97;    // below the window

const TReportFont kBody = TReportFont::Arial(10);
const TReportFont kSmall = TReportFont::Arial(9);

// Field values as the document's fields show them.
std::string DateText(TDateTime d) { return d.IsNull() ? std::string() : FormatDDMMYYYY(d); }
std::string MoneyText(double euro) { return FormatFloat("#,##0.00", euro) + " €"; }
std::string NumberText(double v) { return ReplaceAll(FloatToText(v), ".", ","); }
std::string Amount(const char* pattern, int64_t cents) { return FormatFloat(pattern, CentsToEuro(cents)); }

std::string Str(const Table& t, const char* field) { return t.HasField(field) ? t.AsString(field) : std::string(); }
double Flt(const Table& t, const char* field) { return t.HasField(field) ? t.AsFloat(field) : 0.0; }
TDateTime Date(const Table& t, const char* field) { return t.HasField(field) ? t.AsDateTime(field) : TDateTime(); }

// The rate of a position: the VAT added to a net price when it has one,
// else the VAT contained in its gross price.
double PositionRate(const Table& pos) {
    const double added = Flt(pos, "MwStSatz");
    return added > 0 ? added : Flt(pos, "USt");
}

// A position's amount as billing computes it, with the VAT added to a net price.
int64_t PositionGrossCents(const Table& pos) {
    const double preis = Flt(pos, "EPreis"), menge = Flt(pos, "Menge"), added = Flt(pos, "MwStSatz");
    return PositionBetragCents(preis, menge) + (added > 0 ? PositionMwStCents(preis, menge, added) : 0);
}

// A post-office box: "Postfach " and its number. Directories that hold the
// word in the address already (the insurers' files do) keep it once.
std::string PostBox(const std::string& strasse) {
    return StartsText("Postfach", strasse) ? strasse : "Postfach " + strasse;
}

std::string JoinNonEmpty(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (p.empty()) continue;
        if (!out.empty()) out += ' ';
        out += p;
    }
    return out;
}

class InvoiceLayout {
public:
    InvoiceLayout(Table& head, const TInvoicePrintSettings& settings, const TKTPrintAddresses* addresses,
                  InvoicePrintForm form, const ITextMeasure& measure)
        : head_(head), settings_(settings), addresses_(addresses), form_(form), measure_(measure),
          footerHeight_(InvoiceFooterHeight(settings.Brieffuss)),
          pager_(frame_, [this](int page) { return Header(page); }, [this](int) { return Footer(); },
                 footerHeight_) {}

    TReportDocument Build() {
        pager_.Add(AddressBlock());
        Table& c = head_.Nested(CaseNestName);
        bool first = true;
        for (c.First(); !c.Eof(); c.Next()) {
            pager_.Add(CaseBand(c, first));
            first = false;
            totals_ = TCaseTotals{};
            Table& trips = c.Nested(TripNestName);
            for (trips.First(); !trips.Eof(); trips.Next()) Trip(trips);
        }
        if (!first) pager_.Add(SubtotalBand(true));
        pager_.Add(Summary());
        return pager_.Finish("Rechnung " + head_.AsString("SaRechNr"));
    }

private:
    double Width() const { return frame_.ContentWidth(); }
    bool Detailed() const { return form_ == InvoicePrintForm::Detailed; }

    TReportBand Header(int page) {
        TReportBand b(measure_);
        double y = 0;
        const std::string letterhead = InvoiceLetterhead(settings_.Briefkopf);
        if (!Trim(letterhead).empty())
            y = b.Text(0, 0, Width(), letterhead, TReportFont::Arial(12).WithBold(), ReportAlign::Center, true);
        const std::string number =
            page > 1 ? "Rechnung-Nr.: " + head_.AsString("SaRechNr") + ", Seite: " + IntToStr(page) : std::string();
        y = b.Text(0, y, Width(), number, kBody, ReportAlign::Right);
        b.ExtendTo(y + 2);
        return b;
    }

    TReportBand Footer() {
        TReportBand b(measure_);
        double y = 3;
        for (const std::string& line : InvoiceFooterLines(settings_))
            y = b.Text(0, y, Width(), line, kSmall, ReportAlign::Center, true);
        return b;
    }

    TReportBand AddressBlock() {
        TReportBand b(measure_);
        // The block's items stand where the envelope's window wants them;
        // a letterhead that reaches down further pushes them down.
        const double top = frame_.Top + Header(1).Height();
        const double shift = std::max(0.0, top + 2 - kSenderTop);
        auto at = [&](double paperY) { return paperY + shift - top; };

        const bool withSender = !Contains(settings_.Briefkopf, kWithoutSender);
        const std::string sender =
            withSender ? JoinNonEmpty({Trim(Str(head_, "Name1")), Trim(Str(head_, "Name2")), Trim(Str(head_, "Name3"))})
                       : std::string();
        b.Text(kWindowLeft, at(kSenderTop), kWindowWidth, sender, TReportFont::Arial(7).WithUnderline());

        const TKTPostalAddress none;
        const TKTPostalAddress& paper = addresses_ ? addresses_->Papier : none;
        const TKTPostalAddress& kt = addresses_ ? addresses_->Kostentraeger : none;
        std::vector<std::string> recipient{paper.Found ? paper.KurzBez : std::string()};
        if (paper.Art == "2") {
            recipient.push_back(PostBox(paper.Strasse));
            recipient.push_back(paper.Plz + " " + paper.Ort);
        } else if (paper.Art == "1") {
            recipient.push_back(paper.Strasse);
            recipient.push_back(paper.Plz + " " + paper.Ort);
        } else {
            recipient.insert(recipient.end(), 2, std::string());
        }
        double y = at(kAddressTop);
        for (const std::string& line : recipient) y = b.Text(kWindowLeft, y, kWindowWidth, line, kBody, ReportAlign::Left, true);

        const TReportFont bold = kBody.WithBold();
        const double right = kWindowLeft + kWindowWidth + 5;
        y = at(kAddressTop);
        y = b.Text(right, y, Width() - right, "Rechnung-Nr.: " + head_.AsString("SaRechNr"), bold, ReportAlign::Right);
        y = b.Text(right, y, Width() - right, "Datum: " + DateText(Date(head_, "RechDatum")), bold, ReportAlign::Right);
        const std::string papierIK = addresses_ && paper.Found ? addresses_->PapierIK : std::string();
        b.Text(right, y, Width() - right, papierIK.empty() ? std::string() : "Datenannahme IK " + papierIK, kBody,
               ReportAlign::Right);

        const TReportFont marked = bold.WithUnderline();
        std::string ktLine, ktName;
        if (kt.Found) {
            ktLine = "Kostenträger IK: " + Str(head_, "IKKT");
            ktName = kt.KurzBez;
            if (kt.Art == "2")
                ktName += ", " + PostBox(kt.Strasse) + " " + kt.Plz + " " + kt.Ort;
            else if (kt.Art == "1")
                ktName += ", " + kt.Strasse + " " + kt.Plz + " " + kt.Ort;
        }
        y = b.Text(0, at(kCostBearerTop), Width(), ktLine, marked);
        y = b.Text(0, y, Width(), ktName, marked, ReportAlign::Left, true);
        b.ExtendTo(y + 3);
        return b;
    }

    TReportBand SubtotalBand(bool last) {
        TReportBand b(measure_);
        if (last || totals_.GrossCents != 0)
            b.Text(0, 0, Width(), CaseSubtotalLine(totals_), kBody.WithBold().WithUnderline(), ReportAlign::Right);
        return b;
    }

    TReportBand CaseBand(const Table& c, bool first) {
        TReportBand b(measure_);
        double y = 0;
        if (!first && totals_.GrossCents != 0)
            y = b.Text(0, 0, Width(), CaseSubtotalLine(totals_), kBody.WithBold().WithUnderline(), ReportAlign::Right);
        y += 3;
        std::string person = "Versicherte(r): " + Str(c, "Nachname") + ", " + Str(c, "Vorname");
        if (const TDateTime geb = Date(c, "Geb"); !geb.IsNull()) person += ", Geb.: " + DateText(geb);
        if (const std::string vers = Str(c, "VersNum"); !vers.empty()) person += ", Vers.-Nr.: " + vers;
        y = b.Text(0, y, Width(), person, kBody, ReportAlign::Left, true);

        std::string vo = "Verordnung: " + Str(c, "VONum");
        if (const TDateTime d = Date(c, "VODatum"); !d.IsNull()) vo += " v. " + DateText(d);
        if (const TDateTime d = Date(c, "GenDatum"); !d.IsNull()) vo += " Gen. Datum: " + DateText(d);
        if (const std::string z = Str(c, "GenZeich"); !z.empty()) vo += " Gen. Zeichen: " + z;
        y = b.Text(0, y, Width(), vo, kBody, ReportAlign::Left, true);

        // A case without its own provider is billed for the invoice's.
        std::string ikle = Str(c, "IKLE");
        if (Trim(ikle).empty()) ikle = Str(head_, "IKLE");
        y = b.Text(0, y, Width(), "IK des Leistungserbringers: " + ikle, kBody);

        if (Detailed()) {
            const TReportFont heading = kSmall.WithItalic();
            y += 1;
            b.Text(col::Datum, y, col::Strecke - col::Datum, "Datum", heading);
            b.Text(col::Strecke, y, col::PosNr - col::Strecke, "Fahrstrecke", heading);
            b.Text(col::PosNr, y, col::Text + 40 - col::PosNr, "Pos.Nr. / Leistungsart", heading);
            b.Text(col::Text + 40, y, col::UStEnd - col::Text - 40, "USt. %", heading, ReportAlign::Right);
            b.Text(col::UStEnd, y, col::PreisEnd - col::UStEnd, "E-Preis", heading, ReportAlign::Right);
            b.Text(col::PreisEnd, y, col::AnzEnd - col::PreisEnd, "Anz.", heading, ReportAlign::Right);
            y = b.Text(col::AnzEnd, y, Width() - col::AnzEnd, "Brutto", heading, ReportAlign::Right);
            b.Rule(0, y + 0.3, Width(), y + 0.3);
            y += 0.8;
        }
        b.ExtendTo(y + 1);
        return b;
    }

    void Trip(Table& trip) {
        const TDateTime datum = Date(trip, "Datum");
        Table& pos = trip.Nested(PositionNestName);
        if (Detailed()) {
            TReportBand b(measure_);
            b.Text(col::Datum, 0, col::Strecke - col::Datum, DateText(datum), kBody);
            const std::string route = "von: " + Str(trip, "VON_STRASSE") + " " + Str(trip, "VON_PLZ") + " " +
                                      Str(trip, "VON_ORT") + " / nach: " + Str(trip, "NACH_STRASSE") + " " +
                                      Str(trip, "NACH_PLZ") + " " + Str(trip, "NACH_ORT") + " = " +
                                      NumberText(Flt(trip, "KM")) + " Km";
            b.Text(col::Strecke, 0, Width() - col::Strecke, route, kBody, ReportAlign::Left, true);
            pager_.Add(b);
            for (pos.First(); !pos.Eof(); pos.Next())
                if (Flt(pos, "Menge") > 0) pager_.Add(PositionLine(pos));
        }
        const int64_t brutto = EuroToCents(Flt(trip, "BruttoSum"));
        const int64_t zuza = EuroToCents(Flt(trip, "ZuZaBetrag"));
        if (Detailed()) pager_.Add(TripFooter(Flt(trip, "BruttoSum"), brutto, zuza));

        totals_.AddTrip(datum, brutto, zuza);
        double rate = 0;
        if (!pos.IsEmpty()) {
            pos.Last();
            rate = PositionRate(pos);
        }
        vat_.AddTrip(rate, brutto - zuza);
    }

    TReportBand PositionLine(const Table& pos) {
        TReportBand b(measure_);
        b.Text(col::PosNr, 0, col::Text - col::PosNr, Str(pos, "PosNum"), kSmall);
        const double rate = PositionRate(pos);
        b.Text(col::Text + 40, 0, col::UStEnd - col::Text - 40, rate == 0 ? std::string() : FormatFloat("#0.00", rate),
               kSmall, ReportAlign::Right);
        b.Text(col::UStEnd, 0, col::PreisEnd - col::UStEnd, MoneyText(Flt(pos, "EPreis")), kSmall, ReportAlign::Right);
        b.Text(col::PreisEnd, 0, col::AnzEnd - col::PreisEnd, NumberText(Flt(pos, "Menge")), kSmall, ReportAlign::Right);
        b.Text(col::AnzEnd, 0, Width() - col::AnzEnd, Amount("###0.00", PositionGrossCents(pos)) + " €", kSmall,
               ReportAlign::Right);
        b.Text(col::Text, 0, col::Text + 40 - col::Text - 1, Str(pos, "Text"), kSmall, ReportAlign::Left, true);
        return b;
    }

    TReportBand TripFooter(double bruttoField, int64_t brutto, int64_t zuza) {
        TReportBand b(measure_);
        const double labelX = col::Text + 40, labelW = col::AnzEnd - labelX;
        b.Rule(col::AnzEnd + 2, 0.2, Width(), 0.2, 0.15);
        double y = 0.4;
        b.Text(labelX, y, labelW, "Summe:", kBody, ReportAlign::Right);
        y = b.Text(col::AnzEnd, y, Width() - col::AnzEnd, MoneyText(bruttoField), kBody, ReportAlign::Right);
        if (zuza != 0) {
            b.Text(labelX, y, labelW, "Zuzahlung:", kBody, ReportAlign::Right);
            y = b.Text(col::AnzEnd, y, Width() - col::AnzEnd, "- " + Amount("###0.00", zuza) + " €", kBody,
                       ReportAlign::Right);
            b.Text(labelX, y, labelW, "Saldo:", kBody, ReportAlign::Right);
            y = b.Text(col::AnzEnd, y, Width() - col::AnzEnd, " " + Amount("###0.00", brutto - zuza) + " €", kBody,
                       ReportAlign::Right);
        }
        b.ExtendTo(y + 1);
        return b;
    }

    TReportBand Summary() {
        TReportBand b(measure_);
        const TReportFont bold = kBody.WithBold();
        const double labelX = 110, labelW = 40, valueX = labelX + labelW;
        double r = 4;
        b.Text(labelX, r, labelW, "Gesamt Brutto:", kBody, ReportAlign::Right);
        r = b.Text(valueX, r, Width() - valueX, MoneyText(Flt(head_, "RBetragBrutto")), bold, ReportAlign::Right);
        b.Text(labelX, r, labelW, "abgzügl. Zuzahlung:", kBody, ReportAlign::Right);
        r = b.Text(valueX, r, Width() - valueX, MoneyText(Flt(head_, "RBetragZuZa")), bold, ReportAlign::Right);
        b.Rule(labelX, r + 0.4, Width(), r + 0.4);
        r += 0.8;
        b.Text(labelX, r, labelW, "Rechnungsbetrag:", kBody, ReportAlign::Right);
        r = b.Text(valueX, r, Width() - valueX, MoneyText(Flt(head_, "RBetragNetto")), bold, ReportAlign::Right);

        double l = 4;
        l = b.Text(0, l, labelX - 5, "Im Rechnungsbetrag enthalten:", kBody);
        for (const std::string& line : vat_.Lines()) l = b.Text(0, l, labelX - 5, line, kSmall, ReportAlign::Left, true);

        const double y = std::max(l, r) + 4;
        b.Text(0, y, Width(), "Der Rechnungsbetrag ist sofort und ohne jeden Abzug fällig.", kBody);
        return b;
    }

    Table& head_;
    const TInvoicePrintSettings& settings_;
    const TKTPrintAddresses* addresses_;
    InvoicePrintForm form_;
    const ITextMeasure& measure_;
    TPageFrame frame_;
    double footerHeight_;
    TReportPager pager_;
    TCaseTotals totals_;
    TVatTable vat_;
};

} // namespace

std::string InvoiceLetterhead(const std::string& briefkopf) { return ReplaceFirst(briefkopf, kWithoutSender, ""); }

double InvoiceFooterHeight(const std::string& brieffuss) {
    const size_t brace = brieffuss.find('{');
    if (brace == std::string::npos) return kDesignedFooterHeight;
    // Counted in characters, as the user typed them (Utf8Copy counts from 1).
    const std::string text = ReplaceFirst(brieffuss, "}", "");
    const std::string digits = Trim(Utf8Copy(text, Utf8Length(std::string_view(text).substr(0, brace)) + 7, 10));
    const std::optional<int64_t> pixels = ParseInt(digits);
    if (!pixels)
        throw Error("'" + digits + "' ist kein gültiger Integerwert (Höhe der Fußzeile im Rechnungsfuß \"" +
                    brieffuss + "\")");
    const double mm = double(*pixels) * kMmPerScreenPixel;
    if (mm < 0 || mm > 297.0 / 2)
        throw Error(Format("Die Fußzeile der Rechnung ist mit %d Pixeln zu hoch für die Seite (Rechnungsfuß \"%s\").",
                           {*pixels, brieffuss}));
    return mm;
}

std::vector<std::string> InvoiceFooterLines(const TInvoicePrintSettings& s) {
    std::vector<std::string> lines;
    const std::string text = s.Brieffuss.substr(0, s.Brieffuss.find('{'));
    if (!Trim(text).empty())
        for (const std::string& line : TextLines(text)) lines.push_back(line);
    if (!s.Steuernr.empty()) lines.push_back("Steuernr.: " + s.Steuernr);
    if (!s.Bankverbindung.empty()) lines.push_back("Bankverbindung: " + s.Bankverbindung);
    return lines;
}

void TVatTable::AddTrip(double rate, int64_t claimedCents) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [rate](const Entry& e) { return e.Rate == rate; });
    if (it == entries_.end()) it = entries_.insert(entries_.end(), Entry{});
    it->Rate = rate;
    const double claimed = CentsToEuro(claimedCents);
    it->Vat += claimed - claimed / (1 + rate / 100);
    it->GrossCents += claimedCents;
}

std::vector<std::string> TVatTable::Lines() const {
    std::vector<std::string> lines;
    for (size_t i = 0; i < entries_.size() && i < 4; ++i) {
        const Entry& e = entries_[i];
        if (e.GrossCents == 0) continue;
        lines.push_back("Brutto " + FormatFloat("##0.00", CentsToEuro(e.GrossCents)) + " € zu " +
                        FormatFloat("##0.00", e.Rate) + "% USt." + " = USt.-Betrag: " +
                        FormatFloat("####0.00", CentsToEuro(RoundHalfEven(e.Vat * 100))) + " €");
    }
    return lines;
}

void TCaseTotals::AddTrip(TDateTime date, int64_t grossCents, int64_t coPaymentCents) {
    ++Trips;
    GrossCents += grossCents;
    CoPaymentCents += coPaymentCents;
    if (date.IsNull()) return;
    if (Earliest.IsNull() || date < Earliest) Earliest = date;
    if (Latest.IsNull() || Latest < date) Latest = date;
}

std::string CaseSubtotalLine(const TCaseTotals& t) {
    std::string range;
    if (!t.Earliest.IsNull()) {
        range = FormatDDMMYYYY(t.Earliest);
        if (t.Earliest.DateOnly() != t.Latest.DateOnly()) range += ".." + FormatDDMMYYYY(t.Latest);
    }
    std::string line = range + ", " + IntToStr(t.Trips);
    if (t.CoPaymentCents != 0)
        line += " Fahrten  (inkl. Zuzahlung: " + FormatFloat("###0.00", CentsToEuro(t.CoPaymentCents)) + " €): ";
    else
        line += " Fahrten: ";
    return line + FormatFloat("###0.00", CentsToEuro(t.GrossCents)) + " €";
}

TReportDocument BuildInvoiceReport(const InvoiceDocument& doc, const TInvoicePrintSettings& settings,
                                   const TKTPrintAddresses* addresses, InvoicePrintForm form,
                                   const ITextMeasure& measure) {
    // The report walks a copy, so the entry window's rows stay where they are.
    std::unique_ptr<Table> head = doc.Rechnung().Clone();
    if (!head->Active() || head->IsEmpty()) throw Error("Die Rechnung enthält keine Daten; es gibt nichts zu drucken.");
    InvoiceLayout layout(*head, settings, addresses, form, measure);
    return layout.Build();
}

TKTPrintAddresses InvoicePrintAddresses(TSGBKTStore* store, const std::string& ikkt, const std::string& land,
                                        const std::string& bezirk, TDateTime date) {
    if (!store || ikkt.empty()) return {};
    try {
        return store->GetPrintAddresses(ikkt, land, bezirk, date);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace brenvo
