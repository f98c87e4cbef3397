// The field: QuantLib doing our jobs on the same option. Each job re-prices
// one instrument after moving its spot quote, which is how a QuantLib user
// re-prices; the move invalidates the instrument's cached result. Built only
// when QuantLib is found (see bench/CMakeLists.txt).
#include <ql/exercise.hpp>
#include <ql/instruments/vanillaoption.hpp>
#include <ql/methods/lattices/binomialtree.hpp>
#include <ql/pricingengines/vanilla/analyticeuropeanengine.hpp>
#include <ql/pricingengines/vanilla/baroneadesiwhaleyengine.hpp>
#include <ql/pricingengines/vanilla/binomialengine.hpp>
#include <ql/pricingengines/vanilla/bjerksundstenslandengine.hpp>
#include <ql/pricingengines/vanilla/jumpdiffusionengine.hpp>
#include <ql/processes/blackscholesprocess.hpp>
#include <ql/processes/merton76process.hpp>
#include <ql/quotes/simplequote.hpp>
#include <ql/settings.hpp>
#include <ql/termstructures/volatility/equityfx/blackconstantvol.hpp>
#include <ql/termstructures/yield/flatforward.hpp>
#include <ql/time/calendars/nullcalendar.hpp>
#include <ql/time/daycounters/actual360.hpp>

#include <cmath>

#include "FieldJobs.h"

namespace {

namespace ql = QuantLib;
using ql::ext::make_shared;
using ql::ext::shared_ptr;
using namespace kestrix::bench;

// 180 days on Actual/360 is exactly kExpiry years, so both sides discount and
// diffuse over the same time.
const ql::Date kToday(2, ql::January, 2024);
const ql::Date kMaturity = kToday + 180;
const ql::Actual360 kDayCount;

// The flat market of the typical option; the spot and the volatility are
// quotes so that jobs can move them.
struct Market {
    shared_ptr<ql::SimpleQuote> spot = make_shared<ql::SimpleQuote>(kSpot);
    shared_ptr<ql::SimpleQuote> volatility;
    ql::Handle<ql::YieldTermStructure> rate;
    ql::Handle<ql::YieldTermStructure> yield;
    ql::Handle<ql::BlackVolTermStructure> volSurface;
    shared_ptr<ql::BlackScholesMertonProcess> process;

    explicit Market(double sigma = kVolatility)
        : volatility(make_shared<ql::SimpleQuote>(sigma)),
          rate(make_shared<ql::FlatForward>(kToday, kRate, kDayCount, ql::Continuous)),
          yield(make_shared<ql::FlatForward>(kToday, kYield, kDayCount, ql::Continuous)),
          volSurface(make_shared<ql::BlackConstantVol>(kToday, ql::NullCalendar(),
                                                       ql::Handle<ql::Quote>(volatility), kDayCount)),
          process(make_shared<ql::BlackScholesMertonProcess>(ql::Handle<ql::Quote>(spot), yield, rate, volSurface)) {}
};

shared_ptr<ql::VanillaOption> MakeOption(ql::Option::Type type, bool american,
                                         const shared_ptr<ql::PricingEngine>& engine) {
    shared_ptr<ql::Exercise> exercise;
    if (american) {
        exercise = make_shared<ql::AmericanExercise>(kToday, kMaturity);
    } else {
        exercise = make_shared<ql::EuropeanExercise>(kMaturity);
    }
    auto option = make_shared<ql::VanillaOption>(make_shared<ql::PlainVanillaPayoff>(type, kStrike), exercise);
    option->setPricingEngine(engine);
    return option;
}

// What a job asks of the priced option.
enum class Ask { Value, Delta, BumpedVega };

// Prices `option` in `market` at spot S.
struct QlPricer {
    Market market;
    shared_ptr<ql::VanillaOption> option;
    Ask ask;

    double operator()(double S) const {
        market.spot->setValue(S);
        switch (ask) {
            case Ask::Value: return option->NPV();
            case Ask::Delta: return option->delta();
            case Ask::BumpedVega: {
                // No analytic Vega in these engines: a central difference,
                // the same as ours, per point of volatility.
                market.volatility->setValue(kVolatility + kVegaBump);
                const double up = option->NPV();
                market.volatility->setValue(kVolatility - kVegaBump);
                const double down = option->NPV();
                market.volatility->setValue(kVolatility);
                return (up - down) / (2 * kVegaBump) * 0.01;
            }
        }
        return 0;
    }
};

template <typename MakeEngine>
void RegisterQl(const char* job, ql::Option::Type type, bool american, Ask ask, MakeEngine makeEngine) {
    RegisterJob(job, "QuantLib", [=] {
        ql::Settings::instance().evaluationDate() = kToday;
        Market market;
        auto option = MakeOption(type, american, makeEngine(market));
        return QlPricer{market, option, ask};
    });
}

shared_ptr<ql::PricingEngine> Analytic(const Market& m) { return make_shared<ql::AnalyticEuropeanEngine>(m.process); }
shared_ptr<ql::PricingEngine> Whaley(const Market& m) {
    return make_shared<ql::BaroneAdesiWhaleyApproximationEngine>(m.process);
}
shared_ptr<ql::PricingEngine> Bjerksund(const Market& m) {
    return make_shared<ql::BjerksundStenslandApproximationEngine>(m.process);
}
shared_ptr<ql::PricingEngine> Crr(const Market& m) {
    return make_shared<ql::BinomialVanillaEngine<ql::CoxRossRubinstein>>(m.process, kLatticeSteps);
}

// Merton's jumps with our parametrisation: total volatility s, a share gamma
// of the variance from jumps arriving lambda times a year. Diffusion
// volatility s * sqrt(1 - gamma), log-jump volatility s * sqrt(gamma / lambda),
// and a mean log jump of minus half its variance, so that the expected jump
// is zero.
shared_ptr<ql::PricingEngine> Jumps(const Market& m) {
    const double diffusionVol = kVolatility * std::sqrt(1 - kPercentTotalVol);
    const double jumpVol = kVolatility * std::sqrt(kPercentTotalVol / kJumpsPerYear);
    m.volatility->setValue(diffusionVol);
    auto process = make_shared<ql::Merton76Process>(
        ql::Handle<ql::Quote>(m.spot), m.yield, m.rate, m.volSurface,
        ql::Handle<ql::Quote>(make_shared<ql::SimpleQuote>(kJumpsPerYear)),
        ql::Handle<ql::Quote>(make_shared<ql::SimpleQuote>(-0.5 * jumpVol * jumpVol)),
        ql::Handle<ql::Quote>(make_shared<ql::SimpleQuote>(jumpVol)));
    return make_shared<ql::JumpDiffusionEngine>(process);
}

// The target of the implied-volatility job: the European call's value at the
// typical inputs.
double EuropeanCallPrice() {
    ql::Settings::instance().evaluationDate() = kToday;
    Market market;
    return MakeOption(ql::Option::Call, false, Analytic(market))->NPV();
}

const bool registered = [] {
    RegisterQl("GenBS.Value", ql::Option::Call, false, Ask::Value, Analytic);
    RegisterQl("GenBS.Delta", ql::Option::Call, false, Ask::Delta, Analytic);
    RegisterJob("GenBS.ImpliedVol", "QuantLib", [] {
        ql::Settings::instance().evaluationDate() = kToday;
        Market market;
        auto option = MakeOption(ql::Option::Call, false, Analytic(market));
        const double price = EuropeanCallPrice();
        return [market, option, price](double S) {
            market.spot->setValue(S);
            return option->impliedVolatility(price, market.process);
        };
    });
    RegisterQl("Whaley.Value", ql::Option::Put, true, Ask::Value, Whaley);
    RegisterQl("Whaley.Vega", ql::Option::Put, true, Ask::BumpedVega, Whaley);
    RegisterQl("BSAmerican.Value", ql::Option::Put, true, Ask::Value, Bjerksund);
    RegisterQl("BSAmerican.Vega", ql::Option::Put, true, Ask::BumpedVega, Bjerksund);
    RegisterQl("Binomial.Value", ql::Option::Put, true, Ask::Value, Crr);
    RegisterQl("Binomial.Delta", ql::Option::Put, true, Ask::Delta, Crr);
    RegisterQl("JumpDiffusion.Value", ql::Option::Call, false, Ask::Value, Jumps);
    RegisterQl("JumpDiffusion.Delta", ql::Option::Call, false, Ask::Delta, Jumps);
    return true;
}();

}  // namespace
