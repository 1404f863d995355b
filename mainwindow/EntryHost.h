#pragma once

// What invoice entry needs from the main window's controller: the
// cost-bearer directory for the header's lists and name, and the settings
// of "brenvo.ini" ("Letzte_KT_IK", the trip window's "Auswahl_Adresse").

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

} // namespace brenvo
