#pragma once

// What invoice entry needs from the main window's controller: the
// cost-bearer directory for the header's lists and name, and the setting
// "Letzte_KT_IK" of "brenvo.ini".

#include <string>
#include <vector>

#include "entry/InvoiceEntry.h"

namespace brenvo {

class TMainController;

class TEntryHost : public IInvoiceEntryHost {
public:
    explicit TEntryHost(TMainController& controller) : c_(controller) {}

    std::string CostBearerName(const std::string& ik) override;
    std::vector<TCostBearerChoice> CostBearers() override;
    void RememberCostBearer(const std::string& ik) override;

private:
    TMainController& c_;
};

} // namespace brenvo
