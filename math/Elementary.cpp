#include "math/Elementary.h"

#include <bit>
#include <cstdint>
#include <optional>

namespace veskmath::Math387 {

using ld = long double;

namespace ext {

long double FixAngle(long double x) {
  const ld twoPi = 2.0L * x87::kPi;
  ld turns;
#if defined(__x86_64__) || defined(__i386__)
  // The division and the truncation must both round toward zero; doing them in the same asm
  // block as the control-word switch keeps the compiler from moving them across it.
  uint16_t saved;
  asm volatile("fnstcw %0" : "=m"(saved));
  const uint16_t toZero = static_cast<uint16_t>(saved | 0x0F00);
  asm volatile(
      "fldcw %3\n\t"
      "fdiv %%st(1), %%st\n\t"
      "frndint\n\t"
      "fldcw %4"
      : "=t"(turns)
      : "0"(x), "u"(twoPi), "m"(toZero), "m"(saved));
#else
  turns = truncl(x / twoPi);
#endif
  return x - twoPi * turns;
}

}  // namespace ext

// --- the fast path of Tanh -------------------------------------------------------------------
namespace {

#if defined(__x86_64__) || defined(__i386__)
// 2^(j/256), j = 0..255, rounded to extended precision.
constexpr ld kExp2By256[256] = {
    1.000000000000000000000000L, 1.002711275050202485430746L, 1.005429901112802821351384L,
    1.008155898118417515783095L, 1.010889286051700460020410L, 1.013630084951489438840259L,
    1.016378314910953037940493L, 1.019133996077737949684878L, 1.021897148654116678234480L,
    1.024667792897135645148289L, 1.027445949118763696538861L, 1.030231637686041012871708L,
    1.033024879021228422500108L, 1.035825693601957120029983L, 1.038634101961378790612437L,
    1.041450124688316141264546L, 1.044273782427413840321966L, 1.047105095879289866129907L,
    1.049944085800687266082038L, 1.052790773004626327119891L, 1.055645178360557158808341L,
    1.058507322794512690105772L, 1.061377227289262080950568L, 1.064254912884464549788611L,
    1.067140400676823618169521L, 1.070033711820241773542412L, 1.072934867525975551385035L,
    1.075843889062791037803229L, 1.078760797757119793740680L, 1.081685614993215201942116L,
    1.084618362213309237816105L, 1.087559060917769665346798L, 1.090507732665257659207011L,
    1.093464399072885854228220L, 1.096429081816376823386138L, 1.099401802630221985463697L,
    1.102382583307840943556414L, 1.105371445701741255588275L, 1.108368411723678638009424L,
    1.111373503344817603850149L, 1.114386742595892536308813L, 1.117408151567369199054580L,
    1.120437752409606684429004L, 1.123475567333019800733730L, 1.126521618608241899794799L,
    1.129575928566288145997265L, 1.132638519598719227987074L, 1.135709414157805514240390L,
    1.138788634756691653703830L, 1.141876203969561622712298L, 1.144972144431804219394414L,
    1.148076478840179006778800L, 1.151189229952982705817760L, 1.154310420590216039548222L,
    1.157440073633751029613086L, 1.160578212027498746369459L, 1.163724858777577513813574L,
    1.166880036952481570555516L, 1.170043769683250188080259L, 1.173216080163637247534804L,
    1.176396991650281276284646L, 1.179586527462875945486101L, 1.182784710984341029924457L,
    1.185991565660993831371266L, 1.189207115002721066717500L, 1.192431382583151222142728L,
    1.195664392039827374583837L, 1.198906167074380481770303L, 1.202156731452703142096397L,
    1.205416109005123825604211L, 1.208684323626581577354792L, 1.211961399276801194468169L,
    1.215247359980468878116520L, 1.218542229827408361758207L, 1.221846032972757516903892L,
    1.225158793637145437709465L, 1.228480536106870005694009L, 1.231811284734075935884557L,
    1.235151063936933305692913L, 1.238499898199816567833369L, 1.241857812073484048593677L,
    1.245224830175257932775205L, 1.248600977189204736621766L, 1.251986277866316270060206L,
    1.255380757024691089579391L, 1.258784439549716443077860L, 1.262197350394250708014010L,
    1.265619514578806324196274L, 1.269050957191733222554419L, 1.272491703389402751236692L,
    1.275941778396392100381202L, 1.279401207505669226913588L, 1.282870016078778280726670L,
    1.286348229546025533601482L, 1.289835873406665812232747L, 1.293332973229089436725560L,
    1.296839554651009665933754L, 1.300355643379650651014141L, 1.303881265191935898574524L,
    1.307416445934677244797152L, 1.310961211524764341922992L, 1.314515587949354658485984L,
    1.318079601266063994690186L, 1.321653277603157514326512L, 1.325236643159741294629537L,
    1.328829724205954395478651L, 1.332432547083161449351643L, 1.336045138204145773442628L,
    1.339667524053303005360031L, 1.343299731186835263824217L, 1.346941786232945835788174L,
    1.350593715892034391408522L, 1.354255546936892728298015L, 1.357927306212901046494537L,
    1.361609020638224755585536L, 1.365300717204011815430698L, 1.369002422974590611929601L,
    1.372714165087668369284998L, 1.376435970754530100216323L, 1.380167867260238095581945L,
    1.383909881963831954872660L, 1.387662042298529159042861L, 1.391424375771926187149836L,
    1.395196909966200178275575L, 1.398979672538311140209528L, 1.402772691220204706374714L,
    1.406575993819015442483620L, 1.410389608217270704414375L, 1.414213562373095048801689L,
    1.418047884320415197841127L, 1.421892602169165559809349L, 1.425747744105494306807003L,
    1.429613338391970011235066L, 1.433489413367788842519500L, 1.437375997448982325603226L,
    1.441273119128625662728512L, 1.445180806977046620037006L, 1.449099089642034980518805L,
    1.453027995849052564846072L, 1.456967554401443821630903L, 1.460917794180646988651303L,
    1.464878744146405826593329L, 1.468850433336981926861645L, 1.472832890869367595014941L,
    1.476826145939499311386907L, 1.480830227822471770457660L, 1.484845165872752500544773L,
    1.488870989524397065387327L, 1.492907728291264849200644L, 1.496955411767235426783650L,
    1.501014069626425520265123L, 1.505083731623406544079345L, 1.509164427593422739766020L,
    1.513256187452609902193637L, 1.517359041198214698809782L, 1.521473018908814583526261L,
    1.525598150744538306851254L, 1.529734466947287023885087L, 1.533881997840956001800602L,
    1.538040773831656928433477L, 1.542210825407940823612292L, 1.546392183141021554862512L,
    1.550584877684999959123027L, 1.554788939777088572118314L, 1.559004400237836967033728L,
    1.563231289971357704145931L, 1.567469639965552893064912L, 1.571719481292341369248563L,
    1.575980845107886486455270L, 1.580253762652824526804497L, 1.584538265252493730119868L,
    1.588834384317163944233796L, 1.593142151342266897937249L, 1.597461597908627098262820L,
    1.601792755682693353793846L, 1.606135656416770925696888L, 1.610490331949254308179521L,
    1.614856814204860640079969L, 1.619235135194863749299762L, 1.623625327017328831795216L,
    1.628027421857347766848219L, 1.632441451987275070341428L, 1.636867449766964487767704L,
    1.641305447644006228708264L, 1.645755478153964844518757L, 1.650217573920617750967173L,
    1.654691767656194397572237L, 1.659178092161616085395650L, 1.663676580326736435046336L,
    1.668187265130582506659592L, 1.672710179641596573618809L, 1.677245357017878551792265L,
    1.681792830507429086062251L, 1.686352633448393295928646L, 1.690924799269305181973857L,
    1.695509361489332694980917L, 1.700106353718523469501363L, 1.704715809658051223674407L,
    1.709337763100462827103795L, 1.713972247929926038603625L, 1.718619298122477915629344L,
    1.723278947746273897215034L, 1.727951230961837562243049L, 1.732636182022311064877020L,
    1.737333835273706248994202L, 1.742044225155156443458113L, 1.746767386199168940077417L,
    1.751503353031878156101990L, 1.756252160373299483112161L, 1.761013843037583824162092L,
    1.765788435933272821043382L, 1.770575974063554773539976L, 1.775376492526521252550559L,
    1.780190026515424408959719L, 1.785016611318934980144221L, 1.789856282321400996005889L,
    1.794709075003107186427703L, 1.799575024940535092054855L, 1.804454167806623880307677L,
    1.809346539371031868538519L, 1.814252175500398756249835L, 1.819171112158608568295943L,
    1.824103385407053310996126L, 1.829049031404897343091968L, 1.834008086409342463487083L,
    1.838980586775893717712609L, 1.843966568958625925067141L, 1.848966069510450928385055L,
    1.853979125083385568392453L, 1.859005772428820384615301L, 1.864046048397789044809629L,
    1.869099989941238504889024L, 1.874167634110299901329999L, 1.879249018056560178041175L,
    1.884344179032334449687621L, 1.889453154390939103467079L, 1.894575981586965641340219L,
    1.899712698176555264722504L, 1.904863341817674203650675L, 1.910027950270389792442341L,
    1.915206561397147293872611L, 1.920399213163047473897214L, 1.925605943636124928957038L,
    1.930826790987627167904546L, 1.936061793492294450598056L, 1.941310989528640385215421L,
    1.946574417579233286344204L, 1.951852116230978295911020L, 1.957144124175400269018322L,
    1.962450480208927426762490L, 1.967771223233175778112734L, 1.973106392255234312935940L,
    1.978456026387950968258250L, 1.983820164850219369859826L, 1.989198846967266351304955L,
    1.994592112170940252515320L,
};
// (ln2/256)^n/n!, n = 1..5: the Taylor coefficients of 2^(g/256).
constexpr ld kExp2Taylor[5] = {2.707606174062286364911062974e-3L, 3.665565596910106084191150866e-6L,
                               3.308302680541371104308501707e-9L,
                               2.239395190875157053111836215e-12L,
                               1.212680048995793497252836640e-15L};

// 2^(s/256) for |s| < 2^18 with plain multiplications and additions, where the microcoded
// f2xm1 takes several times longer: 2^(k/256) from the table times the Taylor polynomial of
// 2^(g/256), g = s - k, |g| <= 1/2, which stops at g^5 (the rest is below 2^-66), evaluated in
// two halves to shorten the chain. Relative error below 3.4 units of 2^-64.
ld Exp2By256ths(ld s) {
  // k = s rounded to nearest by the processor's store (the callers have checked the rounding
  // mode); g = s - k is exact, both being multiples of s's unit.
  int32_t k;
  asm("fistpl %0" : "=m"(k) : "t"(s) : "st");
  const ld g = s - static_cast<ld>(k);
  const int32_t m = k >> 8;  // floor(k / 256)
  const double scale = std::bit_cast<double>(static_cast<uint64_t>(1023 + m) << 52);
  const ld* c = kExp2Taylor;
  const ld g2 = g * g;
  const ld p = (1.0L + c[0] * g) + g2 * ((c[1] + c[2] * g) + g2 * (c[3] + c[4] * g));
  return (kExp2By256[k & 255] * scale) * p;
}

// The start-up environment: extended precision, round to nearest. The error bounds below hold
// only there.
bool StartupPrecisionAndRounding() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return (cw & 0x0F00) == 0x0300;
}
#endif

// Tanh's value when it is provably the formula's; false when it cannot tell.
[[gnu::always_inline]] inline bool TanhByTable(double X, double& result) {
#if defined(__x86_64__) || defined(__i386__)
  const double a = std::fabs(X);
  if (!(a >= kTanhFastFrom && a < kHyperbolicLimit) || !StartupPrecisionAndRounding()) return false;
  // Past 20, 1 - tanh is below 2^-56.7: the formula's value lies far closer to 1 than to the
  // midpoint 1 - 2^-54, so it rounds to 1.
  if (a >= 20.0) {
    result = std::copysign(1.0, X);
    return true;
  }
  // 512 times the formula's own t = a log2(e), rounded alike, so that both approximate
  // tanh(t ln 2): E = e^(2a) = 2^(512t/256).
  const ld E = Exp2By256ths(static_cast<ld>(a) * (512.0L * x87::kLog2E));
  const ld r = (E - 1.0L) / (E + 1.0L);
  // Error bounds, relative, u = 2^-64. E's 3.4u shift the argument and cost 3.4u/sinh(2a)
  // <= 1.7u/a; the last three roundings 3u. The formula's e (f2xm1 within one unit, the + 1
  // rounded) is within 2.1u, which costs 4.2u/sinh(2a); its 1/e and last three roundings
  // 2u/sinh(2a) + 3u. Together below (6 + 5/a) units of r's last place: when r lies farther
  // than that from the midpoint between two doubles, r and the formula's value round to the
  // same double. The margin used, 12 + 16/a, leaves room beyond that.
  //
  // r - d is exact (at most 11 bits); its distance from half a unit of d is the one from the
  // midpoint (reading r's own low bits would stall on the extended store). When d is a power
  // of two, r may lie in the binade below, whose unit is half: left to the formula.
  const double d = static_cast<double>(r);
  const double off = std::fabs(static_cast<double>(r - d));
  const uint64_t bits = std::bit_cast<uint64_t>(d);
  const double unit = std::bit_cast<double>(bits & 0x7FF0'0000'0000'0000) * 0x1p-52;
  if ((bits & 0x000F'FFFF'FFFF'FFFF) != 0 && a * (unit * 1012.0 - off * 2048.0) > unit * 16.0) {
    result = std::copysign(d, X);
    return true;
  }
#else
  (void)X;
  (void)result;
#endif
  return false;
}

}  // namespace

std::optional<double> TanhFast(double X) {
  double result;
  if (TanhByTable(X, result)) return result;
  return std::nullopt;
}

double Tanh(double X) {
  double result;
  if (TanhByTable(X, result)) [[likely]]
    return result;
  return TanhFormula(X);
}

double TanhFormula(double X) {
  if (fabs(X) > kHyperbolicLimit) return std::copysign(1.0, X);
  const ld e = ext::Exp(X), inv = 1.0L / e;
  return static_cast<double>((e - inv) / (e + inv));
}

namespace {

TCplx Store(ld re, ld im) { return TCplx{static_cast<double>(re), static_cast<double>(im)}; }

// A complex value carried in extended precision between steps of one routine.
struct XCplx {
  ld re;
  ld im;
};

TCplx Store(const XCplx& z) { return Store(z.re, z.im); }

XCplx XDiv(const XCplx& a, const XCplx& b) {
  const ld s = 1.0L / (b.re * b.re + b.im * b.im);
  return XCplx{(a.re * b.re + a.im * b.im) * s, (a.im * b.re - a.re * b.im) * s};
}

// e^t * (cos u, sin u).
XCplx ExpTimesExpj(ld t, ld u) {
  const ld e = ext::Exp(t);
  ld s, c;
  ext::SinCos(u, s, c);
  return XCplx{e * c, e * s};
}

// The logarithm as (1/2 ln(x^2 + y^2), atan2(y, x)).
XCplx LnHalf(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  return XCplx{0.5L * ext::Ln(x * x + y * y), x87::ATan2(y, x)};
}

// Hyperbolic pair from one exponential e = e^t: cosh = e/2 + 1/(2e), sinh = e/2 - 1/(2e).
void HalfPair(ld t, ld& sinhT, ld& coshT) {
  const ld e = ext::Exp(t);
  const ld half = e / 2.0L, invHalf = 1.0L / (2.0L * e);
  sinhT = half - invHalf;
  coshT = half + invHalf;
}

// Beyond this, the doubled argument of the tangent family overflows even the extended
// exponential (inf/inf); the hyperbolic ratio there is +-1 and the other part far below the
// smallest double, which the clamped argument reproduces.
constexpr ld kDoubledLimit = 11000.0L;
ld ClampDoubled(ld t) {
  if (fabsl(t) > kDoubledLimit) return t > 0 ? kDoubledLimit : -kDoubledLimit;
  return t;
}

// Hyperbolic pair from E = e^(2t): cosh 2t = (E + 1/E)/2, sinh 2t = (E - 1/E)/2.
void DoubledPair(ld t2, ld& sinh2, ld& cosh2) {
  const ld e = ext::Exp(ClampDoubled(t2));
  const ld inv = 1.0L / e;
  sinh2 = (e - inv) / 2.0L;
  cosh2 = (e + inv) / 2.0L;
}

XCplx XSqrt(ld x, ld y) {
  const ld c = ext::Sqrt((ext::Sqrt(x * x + y * y) + fabsl(x)) * 0.5L);
  // Only z = 0 gives c = 0 (the squares cannot underflow in extended precision); the
  // division below would then be 0/0.
  if (c == 0.0L) return XCplx{0.0L, 0.0L};
  const ld d = y * 0.5L / c;
  if (NGreaterEq(x, 0.0L)) return XCplx{c, d};
  if (NGreaterEq(y, 0.0L)) return XCplx{fabsl(d), c};
  return XCplx{fabsl(d), -c};
}

// (w.Im, pi/2 - w.Re): i*(pi/2 - w), the step from an arc sine to an inverse cosh.
TCplx QuarterTurn(const TCplx& w) { return Store(w.Im, PIDIV2 - static_cast<ld>(w.Re)); }

// i/z formed as (y, x)/(x^2 + y^2).
TCplx IOver(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld n = x * x + y * y;
  return Store(y / n, x / n);
}

}  // namespace

// --- exponentials, logarithms, powers ---------------------------------------------------------

TCplx Exp(const TCplx& z) { return Store(ExpTimesExpj(z.Re, z.Im)); }

TCplx Exp2(const TCplx& z) { return Store(ExpTimesExpj(x87::kLn2 * z.Re, x87::kLn2 * z.Im)); }

TCplx Exp10(const TCplx& z) {
  constexpr ld kLn10 = 2.30258509299404568401799145468436421L;
  return Store(ExpTimesExpj(kLn10 * z.Re, kLn10 * z.Im));
}

TCplx Ln(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  return Store(ext::Ln(ext::Sqrt(x * x + y * y)), x87::ATan2(y, x));
}

TCplx Log10(const TCplx& z) {
  const XCplx l = LnHalf(z);
  return Store(l.re * INVLN10, l.im * INVLN10);
}

TCplx Log2(const TCplx& z) {
  const XCplx l = LnHalf(z);
  return Store(l.re * INVLN2, l.im * INVLN2);
}

TCplx LogN(double N, const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld lnN = ext::Ln(N);
  return Store(ext::Ln(ext::Sqrt(x * x + y * y)) / lnN, x87::ATan2(y, x) / lnN);
}

TCplx LogN(const TCplx& B, double X) {
  const ld x = B.Re, y = B.Im;
  const ld lr = ext::Ln(ext::Sqrt(x * x + y * y)), li = x87::ATan2(y, x);
  const ld s = ext::Ln(X) / (lr * lr + li * li);  // ln X times the reciprocal of Ln(B)
  return Store(lr * s, -li * s);
}

TCplx LogN(const TCplx& B, const TCplx& Z) {
  const ld bx = B.Re, by = B.Im, zx = Z.Re, zy = Z.Im;
  const XCplx lb{ext::Ln(ext::Sqrt(bx * bx + by * by)), x87::ATan2(by, bx)};
  const XCplx lz{ext::Ln(ext::Sqrt(zx * zx + zy * zy)), x87::ATan2(zy, zx)};
  return Store(XDiv(lz, lb));
}

TCplx Power(double Base, const TCplx& z) {
  const ld l = ext::Ln(Base);
  return Store(ExpTimesExpj(l * z.Re, l * z.Im));
}

TCplx Power(const TCplx& z, double p) {
  const XCplx l = LnHalf(z);
  return Store(ExpTimesExpj(p * l.re, p * l.im));
}

TCplx Power(const TCplx& A, const TCplx& B) {
  const XCplx l = LnHalf(A);
  const ld re = B.Re * l.re - B.Im * l.im;
  const ld im = B.Im * l.re + B.Re * l.im;
  return Store(ExpTimesExpj(re, im));
}

TCplx IntPower(const TCplx& z, int32_t n) {
  if (n == 0) return C_ONE;
  const ld x = z.Re, y = z.Im;
  const ld r = ext::IntPower(ext::Sqrt(x * x + y * y), n);
  ld s, c;
  ext::SinCos(static_cast<ld>(n) * x87::ATan2(y, x), s, c);
  return Store(r * c, r * s);
}

TCplx Root(const TCplx& z, int32_t k, int32_t n) {
  const ld x = z.Re, y = z.Im;
  const ld r = ext::Sqrt(x * x + y * y), t = x87::ATan2(y, x);
  const ld radius = x87::Pow2(x87::YLog2X(1.0L / n, r));  // Power(r, 1/n)
  const ld angle = ext::FixAngle((t + static_cast<ld>(TWOPI) * k) / n);
  ld s, c;
  ext::SinCos(angle, s, c);
  return Store(radius * c, radius * s);
}

TCplx Pythag(const TCplx& A, const TCplx& B) {
  const ld ax = A.Re, ay = A.Im, bx = B.Re, by = B.Im;
  return Store(XSqrt(ax * ax - ay * ay + (bx * bx - by * by), 2.0L * ax * ay + 2.0L * bx * by));
}

// Root of the larger-magnitude combination first, the other part by division, the branch
// with a non-negative real part; CSqrt(-4, -0.0) is (0, 2) as a zero y counts as positive.
TCplx CSqrt(const TCplx& z) { return Store(XSqrt(z.Re, z.Im)); }

// --- trigonometric and hyperbolic -------------------------------------------------------------

TCplx Sin(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Re, s, c);
  HalfPair(z.Im, sh, ch);
  return Store(s * ch, c * sh);
}
void Sin(const TCplx& z, TCplx& Result) { Result = Sin(z); }

TCplx Cos(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Re, s, c);
  HalfPair(z.Im, sh, ch);
  return Store(c * ch, -(s * sh));
}
void Cos(const TCplx& z, TCplx& Result) { Result = Cos(z); }

TCplx Tan(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Re, s, c);
  DoubledPair(2.0L * z.Im, sh, ch);
  const ld d = c + ch;
  return Store(s / d, sh / d);
}

TCplx Cot(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Re, s, c);
  DoubledPair(2.0L * z.Im, sh, ch);
  const ld d = ch - c;
  return Store(s / d, -sh / d);
}

TCplx Sec(const TCplx& z) { return CInv(Cos(z)); }
TCplx Csc(const TCplx& z) { return CInv(Sin(z)); }

TCplx Sinh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Im, s, c);
  HalfPair(z.Re, sh, ch);
  return Store(sh * c, ch * s);
}
void Sinh(const TCplx& z, TCplx& Result) { Result = Sinh(z); }

TCplx Cosh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Im, s, c);
  HalfPair(z.Re, sh, ch);
  return Store(ch * c, sh * s);
}
void Cosh(const TCplx& z, TCplx& Result) { Result = Cosh(z); }

TCplx Tanh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Im, s, c);
  DoubledPair(2.0L * z.Re, sh, ch);
  const ld d = ch + c;
  return Store(sh / d, s / d);
}

TCplx Coth(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Im, s, c);
  DoubledPair(2.0L * z.Re, sh, ch);
  const ld d = ch - c;
  return Store(sh / d, -s / d);
}

TCplx Sech(const TCplx& z) { return CInv(Cosh(z)); }
TCplx Csch(const TCplx& z) { return CInv(Sinh(z)); }

// --- inverse functions ------------------------------------------------------------------------

// Through A = |z + 1|/2 and B = |z - 1|/2: the real part is the arc sine of A - B, the
// imaginary part ln(a + sqrt(a^2 - 1)) of a = A + B, signed by y (a zero y counts as
// positive, except at x = 0 where the value is 0 anyway).
TCplx ArcSin(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld s = x * x + y * y + 1.0L;
  const ld a = 0.5L * ext::Sqrt(s + 2.0L * x);
  const ld b = 0.5L * ext::Sqrt(s - 2.0L * x);
  const ld beta = a - b, alpha = a + b;
  // On the real axis beta is x (or +-1) and alpha is 1 (or |x|), and rounding can put beta
  // just beyond +-1 or alpha just below 1 ((-1.9058014960439977, 0), (0.769230769230769, 0)):
  // those square roots then take 0 instead of a negative number, whose root is NaN. A NaN
  // stays NaN (the comparison is false).
  const auto notNegative = [](ld v) { return v < 0.0L ? 0.0L : v; };
  const ld re = x87::ATan2(beta, ext::Sqrt(notNegative(1.0L - beta * beta)));
  const ld l = ext::Ln(alpha + ext::Sqrt(notNegative(alpha * alpha - 1.0L)));
  ld im;
  if (NGreater(y, 0.0L)) {
    im = l;
  } else if (NLess(y, 0.0L)) {
    im = -l;
  } else {
    im = NNotEqual(x, 0.0L) ? l : 0.0L;
  }
  return Store(re, im);
}

TCplx ArcCos(const TCplx& z) { return CSub(PIDIV2, ArcSin(z)); }

TCplx ArcTan(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld x2 = x * x;
  const ld re = 0.5L * x87::ATan2(2.0L * x, 1.0L - x2 - y * y);
  const ld yp = y + 1.0L, ym = y - 1.0L;
  const ld im = 0.25L * ext::Ln((x2 + yp * yp) / (x2 + ym * ym));
  return Store(re, im);
}

TCplx ArcSinh(const TCplx& z) { return FlipConj(ArcSin(MulI(z))); }
TCplx ArcCosh(const TCplx& z) { return QuarterTurn(ArcSin(z)); }
TCplx ArcTanh(const TCplx& z) { return FlipConj(ArcTan(MulI(z))); }
TCplx ArcSec(const TCplx& z) { return CSub(PIDIV2, ArcSin(CInv(z))); }
TCplx ArcCsc(const TCplx& z) { return ArcSin(CInv(z)); }
TCplx ArcCot(const TCplx& z) { return ArcTan(CInv(z)); }
TCplx ArcSech(const TCplx& z) { return QuarterTurn(ArcSin(CInv(z))); }
TCplx ArcCsch(const TCplx& z) { return FlipConj(ArcSin(IOver(z))); }
TCplx ArcCoth(const TCplx& z) { return FlipConj(ArcTan(IOver(z))); }

}  // namespace veskmath::Math387
