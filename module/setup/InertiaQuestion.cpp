#include "InertiaQuestion.h"

#include "EngineCore.h"

namespace {

constexpr int kIncreaseRadio = 3333;
constexpr int kDisregardRadio = 3334;

// The total inertia is set just above the motor's, so that the tuning that
// follows never sees a load of negative inertia.
constexpr double kInertiaMargin = 1.01;

} // namespace

CInertiaQuestion::CInertiaQuestion(CMC_Setup* setup, QWidget* parent)
    : CMySetupDlg(setup, kTemplateId, 1, {}, parent)
{
}

int CInertiaQuestion::OnInitDialog()
{
    CMySetupDlg::OnInitDialog();
    CheckDlgButton(kIncreaseRadio, true);
    UpdateData(false);
    return 1;
}

void CInertiaQuestion::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (!saveAndValidate)
        EnableChild(IDOK, m_choice > 0);
}

bool CInertiaQuestion::OnCommand(int id)
{
    if (id != kIncreaseRadio && id != kDisregardRadio)
        return CMySetupDlg::OnCommand(id);
    m_choice = id == kIncreaseRadio ? kIncreaseTotalInertia : kDisregardMotorInertia;
    UpdateData(false);
    return true;
}

void CInertiaQuestion::OnOK()
{
    CMC_Setup* setup = GetSetup();
    if (m_choice == kIncreaseTotalInertia) {
        CMC_Parameter* jt = FindQuietly(setup, "Jt");
        const CMC_Parameter* jm = FindQuietly(setup, "Jm");
        if (jt && jm)
            jt->SetValueInBaseUnit(jm->GetValueInBaseUnit() * kInertiaMargin);
    } else if (m_choice == kDisregardMotorInertia) {
        if (CMC_Parameter* unknown = FindQuietly(setup, "isMotorInertiaUnknown"))
            unknown->SetValueInBaseUnit(1.0);
    }
    CMySetupDlg::OnOK();
}
