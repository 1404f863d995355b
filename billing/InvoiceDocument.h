#pragma once

// The invoice document: one invoice (Rechnung) with its cases (AbrFall, one
// per prescription), their trips (Leistung) and the trips' tariff positions
// (nested field "EF"), held as a four-level nested table set on the table
// engine. The entry window edits it, the processing run reads it and hands it
// to the billing engine.
//
// On disk a document is an invoice file: plain XML with the root
// <Rechnungen>, one element per record named after its level and one child
// element per field. Reading accepts several <Rechnung> records, any field
// order, unknown elements, a decimal comma, the dates YYYY-MM-DD[THH:MM:SS],
// DD.MM.YYYY and YYYYMMDD, and the encodings UTF-8, ISO-8859-1, ISO-8859-15
// and windows-1252 as the XML declaration names them. A missing or empty
// element is a null value. A file that breaks a rule is refused as a whole
// with a German message naming the file, the record and the field.
//
// The case level carries the field GenArt only when the file has a GenArt
// element in at least one case (older files have none); a new document and
// a file without any case always have it. Writing puts out every field of the document's layout, so a
// document read from an old file is written back without GenArt.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

enum class InvoiceLevel { Rechnung, AbrFall, Leistung, Position };

// Element and nested-field names of the levels below the header.
inline constexpr const char* CaseNestName = "AbrFall";
inline constexpr const char* TripNestName = "Leistung";
inline constexpr const char* PositionNestName = "EF";

// The columns of each level in file order; the nested column (when the level
// has one) comes last and holds the columns of the next level.
std::vector<FieldDef> InvoicePositionFields();
std::vector<FieldDef> InvoiceTripFields();
std::vector<FieldDef> InvoiceCaseFields(bool withGenArt = true);
std::vector<FieldDef> InvoiceHeaderFields(bool withGenArt = true);

// The fields of a level that must not be null when a record is stored.
const std::vector<std::string>& InvoiceRequiredFields(InvoiceLevel level);
// The first required field of the level that is null (or a blank text) in
// the current row (or edit buffer) of t; "" when every required field is set.
std::string MissingRequiredField(const Table& t, InvoiceLevel level);

// The fields that billing in message version 21 reads beyond what the older
// versions read, as the entry and trip windows show them: level, field,
// caption and the rule for the value (what is allowed, when it is needed).
// Fields not listed keep their meaning.
struct InvoiceFieldNote {
    InvoiceLevel level;
    const char* name;
    const char* caption;
    const char* rule;
};
const std::vector<InvoiceFieldNote>& Version21FieldNotes();

class InvoiceDocument {
public:
    // An empty document (no invoice record) of the current layout.
    InvoiceDocument();
    explicit InvoiceDocument(bool withGenArt);
    InvoiceDocument(InvoiceDocument&&) noexcept;
    InvoiceDocument& operator=(InvoiceDocument&&) noexcept;
    ~InvoiceDocument();

    // Reads an invoice file. A path that does not exist fails with
    // "Datei %s nicht gefunden."; any other failure with a message naming the
    // file. On failure the document keeps what it held. On success the
    // header table is replaced: views attached to the old table re-attach.
    void LoadFromFile(const std::string& path);
    // The same for the bytes of a file; nameForMessages stands for the file.
    void LoadFromXml(std::string_view bytes, const std::string& nameForMessages);
    static InvoiceDocument FromFile(const std::string& path);

    // One invoice is one file: a document read from a file that holds
    // several Rechnung records (which other programs may write, and a viewer
    // may still show) must not be billed. Throws "Datei %s enthält %d
    // Rechnungen; eine Datei darf nur eine Rechnung enthalten." then.
    void RequireSingleInvoice() const;

    // Writes every record of every level (filters of the tables do not hide
    // rows here; unposted edits are not written) atomically as UTF-8.
    void SaveToFile(const std::string& path) const;
    std::string SaveToXml() const;

    // The header level; each row holds its cases in the nested field
    // "AbrFall", each case its trips in "Leistung", each trip its positions
    // in "EF".
    Table& Rechnung() { return *rechnung_; }
    const Table& Rechnung() const { return *rechnung_; }

    bool HasGenArt() const { return withGenArt_; }
    // Gives a document of the older layout the case field GenArt (empty in
    // every case), so that it is written with it from now on; a document
    // that has the field is left alone. Meant for a document just loaded:
    // it is read anew from its own records, which counts as no change, and
    // each level's first record becomes current.
    void UpgradeLayout();
    // The file last loaded or saved.
    const std::string& FileName() const { return fileName_; }

private:
    void Load(std::string_view bytes, const std::string& nameForMessages, bool forceGenArt);

    std::unique_ptr<Table> rechnung_;
    bool withGenArt_ = true;
    mutable std::string fileName_;
};

} // namespace brenvo
