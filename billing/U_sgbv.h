#pragma once

// The billing engine: copies invoice documents into billing records, checks
// them, and turns the invoices of one billing job (one data recipient, one
// sender IK) into one EDIFACT interchange with SLGA and SLLA messages. It
// writes three windows-1252 files with CR LF line ends: the billing file,
// its log (".LOG") and the accompanying slip (".BGL").
//
// Life cycle: Init, SetHandle, LoadRechnungen (once or many times, each one
// ending with CheckData over everything loaded), CheckData, Generate,
// WriteFiles; then the engine is discarded. Any failure is an Error with the
// message the users know; the owner discards the engine after it.
//
// Cost: every load checks only what is new since the last successful check
// (and everything again when the cost-bearer directory's day, sort orders or
// filters changed), so loading n invoices one by one is linear in n while the
// first failing check and its message stay those of a full check.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/DateTime.h"
#include "lib/base/Settings.h"

namespace brenvo {

class Table;
class InvoiceDocument;
class TSGBKTStore;

struct TAbrechFall;
struct TLeistung;
struct TTarifPosition;

// One invoice header. Amounts in cents.
struct TRechnung {
    std::string IKLE;            // 9; replaced per single invoice while a billing centre's messages are written
    std::string IKKT;            // 9
    std::string IKPAT;           // 9
    std::string SaRechNr;        // 14
    std::string EinzelRechNr;    // 6; replaced per single invoice
    TDateTime RechDatum;
    std::string Name1, Name2, Name3, Name4;   // 30 each
    // Version 21 only: tax number or VAT id and the exemption mark "J" (UST),
    // cash discount in hundredths of a percent and its term in days (SKO).
    std::string Steuernummer;    // 20
    std::string UStBefreit;      // 1
    bool HasSkonto = false;
    int64_t SkontoProzent = 0, SkontoTage = 0;
    int32_t RBetragNetto = 0, RBetragBrutto = 0, RBetragZuZa = 0;
    int64_t SumNetto = 0, SumBrutto = 0, SumZuZa = 0;

    // Cases and trips of this invoice in load order.
    std::vector<TAbrechFall*> Faelle;
    std::vector<TLeistung*> Leistungen;
    uint64_t Seq = 0;            // load order
};

// One case (prescription).
struct TAbrechFall {
    std::string VersNum;         // 12
    std::string Status;          // 5
    std::string IKPat;           // 9
    std::string IKLE;            // 9; the invoice's IKLE when empty
    std::string VONum;           // 10
    std::string Nachname;        // 47
    std::string Vorname;         // 30
    TDateTime Geb;
    std::string Strasse;         // 30
    std::string Plz;             // 7
    std::string Ort;             // 25
    std::string Land;            // 3; filled for version 21 only
    std::string ArztN;           // 9
    std::string BSN;             // 9
    TDateTime VODatum;           // may be null
    std::string ZuzaKennz;       // 1
    std::string Unfall, BVG;     // 1 each; filled for version 21 only
    std::string GenZeich;        // 20
    TDateTime GenDatum;          // may be null
    std::string GenArt;          // 2
    // Version 21 only: document information (INV), special form of care
    // (INV), eVerordnung id (EVO), image archive year, month and IK (IMG).
    std::string BelegInfo;       // 1
    std::string BesVersForm;     // 25
    std::string EvoID;           // 256
    std::string ImgJahr, ImgMonat, ImgIK;   // 4, 2, 9
    int32_t BetragBrutto = 0, BetragZuZaSum = 0, BetragZuZaPausch = 0;
    int64_t SumNetto = 0, SumBrutto = 0, SumZuZa = 0;

    TRechnung* Rechnung = nullptr;
    std::vector<TLeistung*> Leistungen;   // load order
    uint64_t Seq = 0;
};

// One trip.
struct TLeistung {
    int64_t LeistID = 0;
    TDateTime Datum;
    std::string ZuZaArt;         // 2
    int32_t ZuZaBetrag = 0;
    int32_t BruttoSum = 0;
    std::string VON_LAND, VON_PLZ, VON_ORT, VON_STRASSE;       // 3, 7, 25, 30
    std::string NACH_LAND, NACH_PLZ, NACH_ORT, NACH_STRASSE;   // 3, 7, 25, 30
    int64_t KM = 0;
    bool HasKM = false;          // the document has a value
    int64_t KMHundertstel = 0;   // KM in hundredths, written by version 21
    std::string Zeit1, Zeit2;    // 4 each
    int64_t DAUER = 0;
    bool HasDauer = false;
    std::string IKLE;            // 9
    int64_t EinzelReNr = 0;
    int64_t PosSum = 0;
    int LfdNr = 0;

    TAbrechFall* Fall = nullptr;
    TRechnung* Rechnung = nullptr;
    std::vector<TTarifPosition*> Positionen;   // load order
};

// One tariff position.
struct TTarifPosition {
    std::string Abrechnungscode;     // 2
    std::string TarifKennzeichen;    // 5
    std::string PosNum;              // 10
    double Menge = 0;                // rounded to two decimals
    int32_t EPreis = 0;
    int32_t Betrag = 0;
    TDateTime Datum;
    std::string Text;                // 70
    // Version 21 only: the six-digit federal position number (empty: PosNum
    // is one), and VAT added to a net unit price: the rate in hundredths of
    // a percent and the amount in cents (MWS). The gross amount of the
    // position is Betrag + MwSt.
    std::string BPosNum;             // 6
    int64_t MwStSatz = 0;
    int32_t MwSt = 0;

    TLeistung* Leistung = nullptr;
};

// Invoices loaded and checked by one engine, taken out of it so that another
// engine bills them without loading them again: the records (summed) and the
// log lines their loading wrote.
struct TSgbvRecords {
    std::vector<std::unique_ptr<TRechnung>> Invoices;
    std::vector<std::unique_ptr<TAbrechFall>> Cases;
    std::vector<std::unique_ptr<TLeistung>> Trips;
    std::vector<std::unique_ptr<TTarifPosition>> Positions;
    std::vector<std::string> Log;
};

class TSgbv {
public:
    // The engine reads the directory for its checks and the slip; the
    // facility record gives the slip's state and district codes.
    explicit TSgbv(TSGBKTStore& ktStore, TEinrichtung einrichtung = {});
    ~TSgbv();
    TSgbv(const TSgbv&) = delete;
    TSgbv& operator=(const TSgbv&) = delete;

    // ---- segment writer
    void ClearElements();
    // Fails with "TSGBV Wert zu lang. Len=%d Name=%s Value=%s" (the maximum,
    // the label, the value) when the value has more than maxLen characters.
    void AddElement(int maxLen, const std::string& value, const std::string& label);
    // A text, escaped. Versions 06 to 09 count the escaped text against
    // maxLen; version 21 counts the text itself (release characters are not
    // part of a value's length).
    void AddText(int maxLen, std::string_view raw, const std::string& label);
    // A number written with the decimal comma (FormatAmount, FormatQuantity).
    // Versions 06 to 09 count the whole text against oldMax; version 21
    // counts the digits before the comma against intDigits (sign and comma
    // do not count).
    void AddNumber(int oldMax, int intDigits, const std::string& formatted, const std::string& label);
    // Two texts joined by ":" (a composite element), each escaped. Versions
    // 06 to 09 count the joined text against oldMax, version 21 each part
    // against its own maximum.
    void AddComposite(int oldMax, std::string_view a, int maxA, std::string_view b, int maxB,
                      const std::string& label);
    std::string ComposeSegment() const;
    void EmitSegment(const std::string& segment);
    static std::string EscapeText(std::string_view s);
    static std::string ZeroPad(int64_t v, int width);
    static std::string ZeroPad(std::string_view v, int width);
    // 12345 → "123,45"; an amount between -1 and 0 keeps its sign: -5 → "-0,05".
    static std::string FormatAmount(int64_t cents);
    // 2.5 → "2,50" (the value taken to hundredths).
    static std::string FormatQuantity(double x);
    static std::string FormatDate(TDateTime d);   // YYYYMMDD, "" for null
    static std::string FormatTime(TDateTime d);   // hhnn, "" for null
    std::string SegmentsText() const;
    std::string LogText() const;
    void Log(std::string line);
    const std::vector<std::string>& Segments() const { return segments_; }

    // ---- life cycle
    // kind 0 single provider (Rechnungsart 1), 1 billing centre (Rechnungsart 3);
    // testIndicator 0 Test, 1 Erprobung, 2 Echt. A reference seed of -1
    // gives the interchange reference 0, any other seed draws the recipient's
    // next DTAREF from the directory.
    void Init(const std::string& version, const std::string& senderIK, TDateTime versionDate,
              const std::string& recipientIK, int number, int64_t referenceSeed, int kind, int testIndicator,
              const std::string& tempDir);
    void SetHandle(const std::string& handle);
    // Copies every invoice header of the table (the header level of an
    // invoice document) with its nested records, checks each record, then
    // runs CheckData. Derives an empty GenArt of a case in the table.
    void LoadRechnungen(Table& rechnungen);
    void LoadRechnungen(InvoiceDocument& doc);
    void CheckData();
    // Hands over every record with the log of their loading; the engine is
    // then as after Init. The records must come from the same version and
    // kind of engine as the one they are given to.
    TSgbvRecords TakeRecords();
    // Puts records taken from another engine behind this one's own, as if
    // loaded here (the log lines too), and runs CheckData, so that the
    // checks against this engine's recipient and the directory are made
    // again for them.
    void AddRecords(TSgbvRecords records);
    void Generate();
    // The billing file's content: the segments in windows-1252.
    std::string InterchangeText() const;
    // Writes the billing file, ".LOG" and ".BGL" (each atomically). The
    // billing file's content may be given, made by InterchangeText beforehand.
    void WriteFiles(std::optional<std::string> interchange = std::nullopt);
    // Gives back the memory of what the files were made from once they are
    // written: the records, the segments and the log. The settings and the
    // names stay; the engine is then as after Init.
    void ReleaseContent();
    std::string GetBegleitzettel();

    // ---- per-record checks and sums (used by LoadRechnungen)
    TRechnung& AddRechnung(std::unique_ptr<TRechnung> r);
    TAbrechFall& AddAbrFall(std::unique_ptr<TAbrechFall> c, TRechnung& r);
    TLeistung& AddLeistung(std::unique_ptr<TLeistung> l, TAbrechFall& c);
    TTarifPosition& AddPosition(std::unique_ptr<TTarifPosition> p, TLeistung& l);
    void ComputeSums();
    // Builds the single-invoice table of r (number → IK, ascending).
    void PrepareLEListForRechnung(const TRechnung& r);
    const std::map<std::string, std::string>& EinzelRechnungen() const { return numberToIK_; }
    std::string StatusKey(const TAbrechFall& c) const;
    static bool ValidateValue(const std::string& value, bool numeric, bool mayBeEmpty, size_t maxLen);
    // Message version 21 ("SLGA:21:0:0", "SLLA:21:0:0").
    bool Version21() const { return v21_; }
    // "TSGBV Rechnung=... Fall=... Fahrt=... Position=n": the place a refusal
    // names; case, trip and position when given (n from 1).
    static std::string Where(const TRechnung& r, const TAbrechFall* c = nullptr, const TLeistung* l = nullptr,
                             size_t position = 0);

    // ---- read by the billing job and the tests
    const std::string& Version() const { return version_; }
    const std::string& SenderIK() const { return senderIK_; }
    const std::string& RecipientIK() const { return recipientIK_; }
    int Kind() const { return kind_; }
    int Rechnungsart() const { return rechnungsart_; }
    const std::string& Handle() const { return handle_; }
    const std::string& FilePath() const { return filePath_; }
    const std::string& LogicalFileName() const { return logicalFileName_; }
    int64_t InterchangeReference() const { return reference_; }
    TDateTime CreationTime() const { return created_; }
    void SetTransferName(const std::string& name) { transferName_ = name; }
    const std::string& TransferName() const { return transferName_; }
    const std::array<std::string, 4>& AddressLines() const { return address_; }

    // The lists: invoices and cases in the order of the last CheckData
    // (records added after it follow in load order), trips and positions
    // in load order.
    const std::vector<TRechnung*>& Rechnungen();
    const std::vector<TAbrechFall*>& Faelle();
    const std::vector<std::unique_ptr<TLeistung>>& Leistungen() const { return trips_; }
    const std::vector<std::unique_ptr<TTarifPosition>>& Positionen() const { return positions_; }

private:
    struct StatusSum {
        std::string key;
        int64_t netto = 0, brutto = 0, zuza = 0;
    };

    void LoadOne(Table& rechnung);
    void EnsureOrder();
    std::string DirectoryFingerprint();
    // The status rules in force since 01.10.2014: always for version 21,
    // else by the version date.
    bool StatusRulesFrom20141001() const;
    // The approval kind (SKZ) is written and must be E1 or E2.
    bool WithGenArt() const { return version_ == "08" || version_ == "09" || v21_; }

    void CheckTrip(const TLeistung& l);
    void CheckCase(const TAbrechFall& c);
    void CheckInvoice(const TRechnung& r);

    // The rules of message version 21 (U_sgbv21.cpp): each record as it is
    // added, then the sums and repetitions of a whole invoice.
    void CheckRechnung21(const TRechnung& r) const;
    void CheckAbrFall21(const TAbrechFall& c, const TRechnung& r) const;
    void CheckLeistung21(const TLeistung& l, const TAbrechFall& c) const;
    void CheckPosition21(const TTarifPosition& p, const TLeistung& l) const;
    void CheckTripSums21(const TLeistung& l) const;
    void CheckInvoice21(const TRechnung& r) const;
    // The segments only version 21 writes.
    void WriteUST(const TRechnung& r);
    void WriteSKO(const TRechnung& r);
    void WriteIMG(const TAbrechFall& c);
    void WriteEVO(const TAbrechFall& c);
    void WriteMWS(const TTarifPosition& p);

    void FillStatusSums(const std::vector<TLeistung*>& trips);
    void WriteUNB();
    void WriteUNZ();
    void WriteUNH(const char* type);
    void WriteUNT();
    void WriteSLGA(const TRechnung& r, bool collective, const std::string& einzel, const std::string* filter);
    void WriteFKTSlga(const TRechnung& r, bool collective);
    void WriteFKTSlla(const TRechnung& r);
    void WriteREC(const TRechnung& r, const std::string& einzel);
    void WriteGES(const TRechnung& r, const std::string* filter);
    void WriteNAM(const TRechnung& r);
    void WriteSLLA(const TRechnung& r, const std::string& filter, const std::string& einzel,
                   const std::vector<TAbrechFall*>& faelle);
    void TakeAddressFrom(const TRechnung& r);

    TSGBKTStore& kt_;
    TEinrichtung einrichtung_;

    // settings
    std::string version_;
    bool v21_ = false;
    TDateTime versionDate_;
    std::string senderIK_, recipientIK_;
    int kind_ = 0;
    int rechnungsart_ = 1;
    std::string testIndicator_;
    int number_ = 0;
    std::string logicalFileName_;
    int64_t reference_ = 0;
    TDateTime created_;
    std::string tempDir_, handle_, filePath_, transferName_;
    std::array<std::string, 4> address_;

    // writer
    std::vector<std::pair<std::string, std::string>> elements_;   // label, value
    std::vector<std::string> segments_;
    std::vector<std::string> log_;
    int segmentCounter_ = 0;
    int messageCounter_ = 0;
    std::vector<StatusSum> statusSums_;

    // records
    std::vector<std::unique_ptr<TRechnung>> invoices_;
    std::vector<std::unique_ptr<TAbrechFall>> cases_;
    std::vector<std::unique_ptr<TLeistung>> trips_;
    std::vector<std::unique_ptr<TTarifPosition>> positions_;
    std::vector<TRechnung*> invoiceOrder_;   // the invoice list as the checks sort it
    std::vector<TAbrechFall*> caseOrder_;    // the case list as the checks sort it
    bool sortPending_ = false;               // a CheckData ran since the lists were last sorted
    size_t sortedInvoices_ = 0, sortedCases_ = 0;   // how many records that CheckData sorted
    std::map<std::string, std::string> numberToIK_, ikToNumber_;

    // incremental sums and checks
    size_t summedPositions_ = 0, summedTrips_ = 0, summedCases_ = 0;
    size_t checkedTrips_ = 0;
    std::vector<TAbrechFall*> uncheckedCases_;
    std::vector<TRechnung*> uncheckedInvoices_;
    std::string checkedFingerprint_;
};

} // namespace brenvo
