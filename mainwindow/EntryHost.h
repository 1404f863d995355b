#pragma once

// What invoice entry needs from the main window's controller: the
// cost-bearer directory for the header's lists and name, the setting
// "Letzte_KT_IK" of "brenvo.ini", and the header of a new invoice as the
// settings fill it.

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

// The header of a new invoice with this number: today's date, the
// provider's IK and name from the settings, the cost bearer of the last
// invoice ("Letzte_KT_IK").
TNewInvoiceHeader NewInvoiceHeader(TMainController& controller, const std::string& number);

} // namespace brenvo
