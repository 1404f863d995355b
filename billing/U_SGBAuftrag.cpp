#include "billing/U_SGBAuftrag.h"

#include <cerrno>
#include <cstring>

#include "costbearer/U_SGBKTStore.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

bool IsIK(const std::string& ik) { return Utf8Length(ik) == 9 && IsDigits(ik); }

} // namespace

bool TSGBAuftrag::OrderFilesExist(const std::string& dir, const std::string& handle) {
    const std::string base = PathJoin(dir, handle);
    for (const char* ext : FileExts)
        if (FileExists(base + ext)) return true;
    return false;
}

TSGBAuftrag::TSGBAuftrag(TSGBKTStore& costBearers, bool checkDakota) : kt_(costBearers), checkDakota_(checkDakota) {}

void TSGBAuftrag::Init(const std::string& absEignerIK, const std::string& absPhysIK, const std::string& empfEignerIK,
                       const std::string& empfPhysIK, int testIndicator, const std::string& inPath,
                       const std::string& outPath, int32_t& counter, const HandleTaken& taken) {
    if (!IsIK(absEignerIK)) throw Error("TSGBAuftrag Init absEignerIK ");
    if (!IsIK(absPhysIK)) throw Error("TSGBAuftrag Init absPhysIK ");
    if (Utf8Length(empfEignerIK) != 9) throw Error("TSGBAuftrag Init EmpfEignerIK ");
    if (!IsDigits(empfEignerIK)) throw Error("TSGBAuftrag Init EmpfEignerIK  ");
    if (!IsIK(empfPhysIK)) throw Error("TSGBAuftrag Init EmpfPhys ");
    if (!DirectoryExists(inPath)) throw Error("TSGBAuftrag Init InPath ");
    if (!DirectoryExists(outPath)) throw Error("TSGBAuftrag Init OutPath ");

    absEignerIK_ = absEignerIK;
    absPhysIK_ = absPhysIK;
    empfEignerIK_ = empfEignerIK;
    empfPhysIK_ = empfPhysIK;
    inPath_ = inPath;
    outPath_ = outPath;
    empfName_ = kt_.GetKurzBez(empfEignerIK);
    empfEmail_ = kt_.GetEmailAddr(empfPhysIK, true, checkDakota_, Now());

    if (testIndicator == 0 || testIndicator == 1) {
        prefix_ = 'T';
    } else if (testIndicator == 2) {
        prefix_ = 'E';
    } else {
        throw Error("TSGBAuftrag Init Testindikator unbekannt");
    }
    testIndicator_ = testIndicator;

    // The counter holds the last number used; a value that is not a valid
    // transfer number starts again at 1, as the wrap after 999 does.
    int32_t next = counter + 1;
    if (next > 999 || next < 1) next = 1;
    counter = next;
    transferNumber_ = next;
    transferName_ = std::string(1, prefix_) + "SOL" + "0" + Format("%3.3d", {transferNumber_});

    // Two orders must never share a handle: their files would overwrite each
    // other. The handle keeps its form; only the moment moves on.
    TDateTime moment = Now();
    for (;;) {
        handle_ = empfEignerIK_ + "_" + FormatStamp(moment);
        if (!OrderFilesExist(inPath_, handle_) && !(taken && taken(handle_))) break;
        moment = IncMilliseconds(moment, 1);
    }
    initialised_ = true;
}

void TSGBAuftrag::SetFile(const std::string& path, const std::string& logicalName, IOrderSealer* sealer) {
    if (!initialised_) throw Error("TSGBAuftrag nicht initialisiert ");
    if (handle_.empty() || !Contains(path, handle_))
        throw Error("TSGBAuftrag Dateiname und Handle passen nicht zusammen.");
    if (!FileExists(path)) throw Error("TSGBAuftrag Datei existiert nicht.");

    billingFile_ = path;
    fileSize_ = brenvo::FileSize(path);
    // The creation stamp is the file system's birth time of the billing file
    // where it reports one (statx), otherwise its last-write time; in UTC.
    creationStamp_ = PadRight(FormatYYYYMMDDHHNNSS(FileCreationTimeUtc(path)), 14, '0');
    txStartStamp_ = PadRight(FormatYYYYMMDDHHNNSS(Now()), 14, '0');

    // The file that is sent must be this billing file; an older one of the
    // same name must never go out in its place.
    const std::string enc = path + ".ENC";
    if (sealer) {
        // Sealed completely before anything is written: a failure leaves no
        // ".ENC", so nothing unencrypted can go out under its name.
        const std::string sealed = sealer->Seal(ReadFileBytes(path), empfEignerIK_);
        const std::string staged = enc + ".neu";
        AtomicWriteFile(staged, sealed);
        if (!RenameFile(staged, enc)) {
            DeleteFile(staged);
            throw Error(Format("TSGBAuftrag Datei %s konnte nicht nach %s geschrieben werden", {path, enc}));
        }
        // "03" + "03": signed and encrypted in the PKCS#7 (CMS) format.
        encryption_ = 3;
        signature_ = 3;
    } else if (!CopyFileTo(path, enc, false)) {
        throw Error(Format("TSGBAuftrag Datei %s konnte nicht nach %s kopiert werden", {path, enc}));
    }
    transferSize_ = brenvo::FileSize(enc);
    if (transferSize_ < 0)
        throw Error(Format("TSGBAuftrag Datei %s nicht lesbar: %s", {enc, std::strerror(errno)}));

    logicalFileName_ = PadLeft(logicalName, 11);
}

void TSGBAuftrag::PutToken(int position, const std::string& value, const std::string& label, int width) {
    if (Utf8Length(value) != size_t(width)) throw Error("TSGBAuftrag Tokenlänge stimmt nicht." + label);
    if (position < 1 || position + width - 1 > RecordLength) throw Error("TSGBAuftrag wird zu lang bei " + label);
    if (record_.size() != size_t(RecordLength)) record_.assign(RecordLength, ' ');
    const std::string bytes = Utf8ToCp1252(value);
    record_.replace(size_t(position - 1), bytes.size(), bytes);
    tokenLog_ += Format("%3.3d %s *%s*", {position, PadRight(label, 30), value}) + "\r\n";
}

void TSGBAuftrag::WriteAuftrag() {
    if (!initialised_) throw Error("TSGBAuftrag nicht initialisiert ");
    if (billingFile_.empty()) throw Error("TSGBAuftrag Datei existiert nicht.");

    record_.assign(RecordLength, ' ');
    tokenLog_.clear();
    auto z = [](int64_t v, int width) { return Format("%" + IntToStr(width) + "." + IntToStr(width) + "d", {v}); };
    auto zeros = [](const std::string& s) { return PadRight(s, 14, '0'); };

    PutToken(1, "500000", "Identifikator", 6);
    PutToken(7, "01", "Version", 2);
    PutToken(9, "00000348", "LaengeAuftrag", 8);
    PutToken(17, z(sequenceNumber_, 3), "Sequenznr", 3);
    PutToken(20, std::string(1, prefix_) + "SOL" + "0", "VerfahrenKennung", 5);
    PutToken(25, z(transferNumber_, 3), "Transfernummer", 3);
    PutToken(28, std::string(5, ' '), "VerfahrenKennungSpez", 5);
    PutToken(33, PadRight(absEignerIK_, 15), "AbsenderEigner", 15);
    PutToken(48, PadRight(absPhysIK_, 15), "AbsenderPhys", 15);
    PutToken(63, PadRight(empfEignerIK_, 15), "EmpEigner", 15);
    PutToken(78, PadRight(empfPhysIK_, 15), "EmpfPhysisch", 15);
    PutToken(93, z(0, 6), "FehlerNummer", 6);
    PutToken(99, z(0, 6), "FehlerMassnahme", 6);
    PutToken(105, logicalFileName_, "Dateiname", 11);
    PutToken(116, zeros(creationStamp_), "Datumerstellung", 14);
    PutToken(130, zeros(txStartStamp_), "DatumTXStart", 14);
    PutToken(144, std::string(14, '0'), "DatumTXRecvStart", 14);
    PutToken(158, std::string(14, '0'), "DatumTXRecvEnde", 14);
    PutToken(172, z(0, 6), "Dateiversion", 6);
    PutToken(178, z(0, 1), "Korrektur", 1);
    PutToken(179, z(fileSize_, 12), "DateigroesseOrig", 12);
    PutToken(191, z(transferSize_, 12), "DateigroesseTransf", 12);
    PutToken(203, charset_, "ZeichenSatz", 2);
    PutToken(205, z(compression_, 2), "Komprimierung", 2);
    PutToken(207, z(encryption_, 2), "Encrypt", 2);
    PutToken(209, z(signature_, 2), "Signatur", 2);
    PutToken(211, recordFormat_, "Satzformat", 3);
    PutToken(214, z(recordLength_, 5), "Satzlaenge", 5);
    PutToken(219, z(blockLength_, 8), "Blocklaenge", 8);
    PutToken(227, "0", "Status", 1);
    PutToken(228, z(0, 2), "Status", 2);
    PutToken(230, z(0, 2), "UebertragWert", 2);
    PutToken(232, z(0, 10), "VersandDelay     ", 10);
    PutToken(241, z(0, 6), "Fehler", 6);
    PutToken(247, std::string(28, ' '), "FehlerText", 28);
    PutToken(275, PadRight(senderEmail_, 44), "EmailAbsender", 44);
    PutToken(319, std::string(30, ' '), "DateiZusatzinfo", 30);

    AtomicWriteFile(billingFile_ + ".AUF", record_);
    WriteCp1252Text(billingFile_ + ".AUF.LOG", tokenLog_);
}

} // namespace brenvo
