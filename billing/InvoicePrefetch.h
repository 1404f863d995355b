#pragma once

// Reads invoice files ahead of their use on a second thread, so that the
// processing run checks or bills one invoice while the next ones are read.
// The files are read in the order given, at most a few ahead; each is taken
// once, in that order, as the document read or the failure reading it gave
// (thrown at Take, exactly as InvoiceDocument::LoadFromFile throws it).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "billing/InvoiceDocument.h"
#include "lib/base/Files.h"

namespace brenvo {

class InvoicePrefetch {
public:
    explicit InvoicePrefetch(std::vector<std::string> paths, size_t ahead = 16);
    // Stops reading (a file being read is finished) and waits for the thread.
    ~InvoicePrefetch();
    InvoicePrefetch(const InvoicePrefetch&) = delete;
    InvoicePrefetch& operator=(const InvoicePrefetch&) = delete;

    // What reading the next path gave. Taken at the start of an invoice's
    // step, so that a failure before its reading keeps the order.
    class Result {
    public:
        // The document read; throws what reading it threw.
        InvoiceDocument Document();
        // The file as it was just before it was read.
        const FileIdentity& Identity() const { return identity_; }

    private:
        friend class InvoicePrefetch;
        std::optional<InvoiceDocument> doc_;
        FileIdentity identity_;
        std::exception_ptr failure_;
    };
    Result Next();

private:
    void Run();

    const std::vector<std::string> paths_;
    const size_t ahead_;
    size_t taken_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Result> ready_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace brenvo
