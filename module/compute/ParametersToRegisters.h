// The register pass: turns the engineering parameters a user edits into the
// drive's register values, and the short chains the setup editor runs at once
// when one key parameter changes.
//
// Each row is a function of the setup named after the register it writes. It
// looks up every parameter it names first and returns 0, writing nothing,
// when one is missing, when a range it sets is refused or when a mode is
// unknown; otherwise it writes and returns 1. Registers are written as
// doubles; only "UMAXPROT" and "FILTERQ" are truncated to whole counts.
// Nothing is cached; everything runs on the user interface thread.
#pragma once

class CMC_Setup;

// Runs every row below in order; ends with the biquad filters when the setup has them.
void ComputeRegistersFromParameters(CMC_Setup* setup);

// Runs the chain for a changed parameter (name compared ignoring case), if it
// has one: a gain or the resolution goes to its registers and is read back
// from them at once, so the editor shows what the drive will hold.
void ParameterChangeDispatch(CMC_Setup* setup, const char* name);

// Span of the analogue reference for the active control mode, in units of the
// "CADIN" gain: (max - min) x 0.5 x 65536 / ADCmax, of the sign of the load
// position scale. The end points are read in internal units.
double AnalogueReferenceSpan(CMC_Setup* setup);
// Total left shift of the acceleration feed-forward gain "KFFA_scl":
// 0 up to a gain of 1, else ceil(log2 gain).
double FeedForwardShift(CMC_Setup* setup);

// Truncation toward zero that gives a register back its own count. A value
// derived from a register and converted back lands an ulp or two off the whole
// count, as often below it as above; plain truncation then loses one count on
// every round trip. Here a value within 8 units in the last place of
// max(|x|, fullScale) of a whole number is that number. fullScale is the
// register's largest count: the filter's conversions pass through 1 - q/32767,
// a number of order 1, so their error is absolute, up to 1.5 ulp of the full
// scale whatever q is (1 ulp for the bus voltage). A value the user typed moves
// by less than 1e-10 of a count on a 16-bit register. Non-finite values pass
// unchanged.
double TruncSettled(double x, double fullScale);

// Rows of the pass, in order.
int Compute_MECRESL(CMC_Setup* setup);
int Compute_ENC2THL(CMC_Setup* setup);
int Compute_DBTTH(CMC_Setup* setup);
int Compute_PWMPER(CMC_Setup* setup);
int Compute_AD4OFF(CMC_Setup* setup);
int Compute_CVDC(CMC_Setup* setup);
int Compute_T2MAXPROT(CMC_Setup* setup);
int Compute_UMAXPROT(CMC_Setup* setup);
int Compute_UMINPROT(CMC_Setup* setup);
int Compute_II2TPROT_D(CMC_Setup* setup);
int Compute_SFI2T_D(CMC_Setup* setup);
int Compute_I2TINTLIM_D(CMC_Setup* setup);
int Compute_II2TWARLIM_D(CMC_Setup* setup); // when the drive has i2t warning limits
int Compute_SATPWM(CMC_Setup* setup);
int Compute_MTSTYPE(CMC_Setup* setup);
int Compute_AAR_table(CMC_Setup* setup);
int Compute_SCR(CMC_Setup* setup);
int Compute_OSR(CMC_Setup* setup);
int Compute_ASR(CMC_Setup* setup);
int Compute_PCR(CMC_Setup* setup);
int Compute_ACR(CMC_Setup* setup);
int Compute_SFTKPI(CMC_Setup* setup);
int Compute_KPI(CMC_Setup* setup);
int Compute_SFTKII(CMC_Setup* setup);
int Compute_KII(CMC_Setup* setup);
int Compute_SATID(CMC_Setup* setup);
int Compute_SATIQ(CMC_Setup* setup);
int Compute_FILTERQ(CMC_Setup* setup);
int Compute_FFL(CMC_Setup* setup); // with gravity compensation
int Compute_SFTKPS(CMC_Setup* setup);
int Compute_KPS(CMC_Setup* setup);
int Compute_SFTKIS(CMC_Setup* setup);
int Compute_KIS(CMC_Setup* setup);
int Compute_IMAXS(CMC_Setup* setup);
int Compute_SATS(CMC_Setup* setup);
int Compute_SFTKPP(CMC_Setup* setup);
int Compute_KPP(CMC_Setup* setup);
int Compute_SFTKIP(CMC_Setup* setup);
int Compute_KIP(CMC_Setup* setup);
int Compute_SFTKDP(CMC_Setup* setup);
int Compute_KDP(CMC_Setup* setup);
int Compute_KDFP(CMC_Setup* setup);
int Compute_SFTKPTHT(CMC_Setup* setup); // the four theta gains: when the drive has the theta controller
int Compute_KPTHT(CMC_Setup* setup);
int Compute_SFTKITHT(CMC_Setup* setup);
int Compute_KITHT(CMC_Setup* setup);
int Compute_IMAXP(CMC_Setup* setup);
int Compute_SATP(CMC_Setup* setup);
int Compute_SFTSFFW(CMC_Setup* setup);
int Compute_KFFS(CMC_Setup* setup);
int Compute_SFTAFFW(CMC_Setup* setup);
int Compute_SFTKFF(CMC_Setup* setup);
int Compute_KFFA(CMC_Setup* setup);
int Compute_IMAXPROT(CMC_Setup* setup);
int Compute_TIMAXPROT(CMC_Setup* setup);
int Compute_ERRMAX(CMC_Setup* setup);
int Compute_TERRMAX(CMC_Setup* setup);
int Compute_SERRMAX(CMC_Setup* setup);
int Compute_TSERRMAX(CMC_Setup* setup);
int Compute_T1MAXPROT(CMC_Setup* setup);
int Compute_II2TPROT_M(CMC_Setup* setup);
int Compute_SFI2T_M(CMC_Setup* setup);
int Compute_I2TINTLIM_M(CMC_Setup* setup);
int Compute_I2TWARLIM_M(CMC_Setup* setup); // when the drive has i2t warning limits
// Software limit switches (when the drive has them). "Negative_SWLS" goes to
// "SWNEGLS" and "Positive_SWLS" to "SWPOSLS"; a reversing transmission
// (load position scale < 0) swaps the two registers.
int Compute_SWNEGLS(CMC_Setup* setup);
int Compute_SWPOSLS(CMC_Setup* setup);
int Compute_CACC(CMC_Setup* setup);
int Compute_CSPD(CMC_Setup* setup);
int Compute_CADIN(CMC_Setup* setup); // the analogue reference rows: when the drive has the input
int Compute_SFTADIN(CMC_Setup* setup);
int Compute_AD5OFF(CMC_Setup* setup);
int Compute_FILTER1(CMC_Setup* setup);
int Compute_LEVEL_AD5(CMC_Setup* setup);
int Compute_E_LEVEL_AD5(CMC_Setup* setup);
int Compute_GEAR(CMC_Setup* setup);
int Compute_T1ONA(CMC_Setup* setup);
int Compute_T1ONB(CMC_Setup* setup);
int Compute_REFTST(CMC_Setup* setup);
int Compute_RINCTST(CMC_Setup* setup);
int Compute_BRAKELIM(CMC_Setup* setup);
int Compute_DIGIN_ACTIVE_LEVEL(CMC_Setup* setup);
int Compute_UPGRADE(CMC_Setup* setup);
int Compute_LSS_Active(CMC_Setup* setup); // with the communication save options
int Compute_BRAKECFG(CMC_Setup* setup);   // the three brake rows: when the drive has a motor brake
int Compute_BRAKEAPPLYDELAY(CMC_Setup* setup);
int Compute_BRAKERELEASEDELAY(CMC_Setup* setup);
int Compute_POSOKLIM_FC(CMC_Setup* setup); // with freeze control
int Compute_TONPOSOK_FC(CMC_Setup* setup);
int Compute_TRANSMISSION(CMC_Setup* setup);    // when the drive has the transmission sign
int Compute_ABSTART_MINMOVE(CMC_Setup* setup); // when the drive has the start minimum move
// The biquad coefficient registers and slot counts (when the drive has biquad filters).
int Compute_BiquadRegisters(CMC_Setup* setup);
