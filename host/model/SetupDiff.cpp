#include "SetupDiff.h"

#include "CaseInsensitive.h"
#include "Setup.h"

namespace {

// Lookups without a report: a parameter one setup lacks is a difference.
const CMC_Parameter* Find(const CMC_Setup& setup, const std::string& name)
{
    for (const auto& p : setup.GetParameters())
        if (EqualsIgnoringCase(p->Name(), name))
            return p.get();
    return nullptr;
}

} // namespace

std::vector<ParameterDifference> SetupDifferences(const CMC_Setup& a, const CMC_Setup& b)
{
    std::vector<ParameterDifference> differences;
    for (const auto& p : a.GetParameters()) {
        const CMC_Parameter* q = Find(b, p->Name());
        if (q != nullptr && q->GetValueInInternalUnit() == p->GetValueInInternalUnit())
            continue;
        ParameterDifference d{p->Name(), true, q != nullptr, p->GetValue(), 0.0, p->GetUnitName(), ""};
        if (q != nullptr) {
            d.b = q->GetValue();
            d.unitB = q->GetUnitName();
        }
        differences.push_back(std::move(d));
    }
    for (const auto& q : b.GetParameters())
        if (Find(a, q->Name()) == nullptr)
            differences.push_back({q->Name(), false, true, 0.0, q->GetValue(), "", q->GetUnitName()});
    return differences;
}
