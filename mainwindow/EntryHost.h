#pragma once

// What invoice entry needs from the main window's controller: the
// cost-bearer directory for the header's lists and name, the settings of
// "brenvo.ini" ("Letzte_KT_IK", the trip window's "Auswahl_Adresse"), and the header of a new invoice as the
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
    std::string IniValue(const std::string& name) override;
    void SetIniValue(const std::string& name, const std::string& value) override;

private:
    TMainController& c_;
};

// The header of a new invoice with this number: today's date, the
// provider's IK and name from the settings, the cost bearer of the last
// invoice ("Letzte_KT_IK").
TNewInvoiceHeader NewInvoiceHeader(TMainController& controller, const std::string& number);

} // namespace brenvo
