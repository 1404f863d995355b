#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "lib/base/DateTime.h"

namespace brenvo {

class TSGBKTStore;

// Signs and encrypts the billing data of an order for the data acceptance
// office that may decrypt it (the health insurers' security interface). Both
// operations throw Error, naming the IK or the key file, when they cannot.
class IOrderSealer {
public:
    virtual ~IOrderSealer() = default;
    // Checks that everything sealing for the office of the IK needs is there.
    virtual void CheckRecipient(const std::string& ik) = 0;
    // The billing data signed and encrypted for the office of the IK.
    virtual std::string Seal(std::string_view data, const std::string& ik) = 0;
};

// A transfer order: the fixed-width record of 348 characters that travels with
// a billing file (".AUF"), its readable token log (".AUF.LOG") and the copy of
// the billing file that is sent (".ENC").
//
// Life: Init (when a billing job meets a new data recipient) -> the engine
// writes the billing file -> SetFile -> WriteAuftrag.
class TSGBAuftrag {
public:
    // Answers whether a handle is already in use elsewhere (another order of
    // the same job, files in the order archive, a row of the order archive).
    using HandleTaken = std::function<bool(const std::string& handle)>;

    static constexpr int RecordLength = 348;
    // The files of one order, all named after its handle H: H (billing data)
    // followed by these extensions.
    static constexpr const char* FileExts[6] = {"", ".LOG", ".ENC", ".BGL", ".AUF", ".AUF.LOG"};

    // `costBearers` gives the recipient's short name and e-mail address;
    // `checkDakota` is the setting DAKOTA_ANN_CHECK.
    explicit TSGBAuftrag(TSGBKTStore& costBearers, bool checkDakota = false);

    // Checks and keeps the four IKs and both directories, looks up the
    // recipient's name and e-mail address, advances `counter` (the facility's
    // MAXTRANSFER; 999 is followed by 1) and takes its value as transfer
    // number, and forms transfer name and handle. The handle names the
    // recipient and the creation moment to the millisecond; when that handle
    // is taken (files of that name in the input directory, or `taken` says
    // so) the moment moves on by one millisecond until it is free.
    void Init(const std::string& absEignerIK, const std::string& absPhysIK, const std::string& empfEignerIK,
              const std::string& empfPhysIK, int testIndicator, const std::string& inPath, const std::string& outPath,
              int32_t& counter, const HandleTaken& taken = {});
    // Records the written billing file (its path must contain the handle) and
    // copies it to path + ".ENC". With a sealer, path + ".ENC" is the billing
    // file signed and encrypted for the recipient owner (the office that may
    // decrypt it), and the record says so ("Encrypt" and "Signatur" "03");
    // when sealing fails, no ".ENC" is written.
    void SetFile(const std::string& path, const std::string& logicalName, IOrderSealer* sealer = nullptr);
    // Writes path + ".AUF" (exactly 348 bytes, no line end) and path + ".AUF.LOG".
    void WriteAuftrag();
    // Puts one token into the record and appends its line to the token log.
    void PutToken(int position, const std::string& value, const std::string& label, int width);

    // Whether any file of an order with this handle (H, H.LOG, H.BGL, H.ENC,
    // H.AUF, H.AUF.LOG) exists in dir.
    static bool OrderFilesExist(const std::string& dir, const std::string& handle);

    // --- read by the job, the order archive and the windows
    bool Initialised() const { return initialised_; }
    const std::string& Handle() const { return handle_; }
    const std::string& TransferName() const { return transferName_; }
    int TransferNumber() const { return transferNumber_; }
    const std::string& AbsEignerIK() const { return absEignerIK_; }
    const std::string& AbsPhysIK() const { return absPhysIK_; }
    const std::string& EmpfEignerIK() const { return empfEignerIK_; }
    const std::string& EmpfPhysIK() const { return empfPhysIK_; }
    const std::string& EmpfName() const { return empfName_; }
    const std::string& EmpfEmail() const { return empfEmail_; }
    const std::string& BillingFile() const { return billingFile_; }
    const std::string& LogicalFileName() const { return logicalFileName_; }
    const std::string& InPath() const { return inPath_; }
    const std::string& OutPath() const { return outPath_; }
    char ProcedurePrefix() const { return prefix_; }
    int TestIndicator() const { return testIndicator_; }
    const std::string& CreationStamp() const { return creationStamp_; }
    const std::string& TransferStartStamp() const { return txStartStamp_; }
    int64_t FileSize() const { return fileSize_; }
    int64_t TransferSize() const { return transferSize_; }
    // The ".ENC" file is signed and encrypted (not a copy).
    bool Sealed() const { return encryption_ != 0; }
    // The interchange reference, set by the job from its engine; the order
    // archive stores it as DTAREF.
    int64_t DtaRef() const { return dtaRef_; }
    void SetDtaRef(int64_t ref) { dtaRef_ = ref; }
    // The record as written (windows-1252 bytes) and the token log (UTF-8,
    // CR LF after each line).
    const std::string& Record() const { return record_; }
    const std::string& TokenLog() const { return tokenLog_; }

private:
    TSGBKTStore& kt_;
    bool checkDakota_;

    bool initialised_ = false;
    std::string absEignerIK_, absPhysIK_, empfEignerIK_, empfPhysIK_;
    std::string empfName_, empfEmail_;
    std::string inPath_, outPath_;
    int testIndicator_ = 0;
    char prefix_ = 'T';
    int transferNumber_ = 1;
    std::string transferName_;
    std::string handle_;
    std::string billingFile_;
    std::string logicalFileName_;
    std::string creationStamp_, txStartStamp_;
    int64_t fileSize_ = 0, transferSize_ = 0;
    int sequenceNumber_ = 0;
    std::string charset_ = "I7";
    int compression_ = 0, encryption_ = 0, signature_ = 0;
    std::string recordFormat_ = "   ";
    int recordLength_ = 0, blockLength_ = 0;
    std::string senderEmail_;
    int64_t dtaRef_ = 0;
    std::string record_;
    std::string tokenLog_;
};

} // namespace brenvo
