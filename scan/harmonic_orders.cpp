#include "scan/harmonic_orders.h"

ScanFrame HarmonicFrame(const ScanFrame& frame, int order)
{
    ScanFrame harmonic = frame;
    harmonic.primary = Miller{order * frame.primary.h, order * frame.primary.k, order * frame.primary.l};
    harmonic.G = static_cast<double>(order) * frame.G;
    harmonic.length = order * frame.length;
    return harmonic;
}

bool HarmonicPasses(const Crystal& crystal, const ScanFrame& frame, int order, double eMax)
{
    const ScanFrame harmonic = HarmonicFrame(frame, order);
    return !crystal.Extinct(harmonic.primary) && crystal.At(order * eMax)->Modulus(harmonic.primary) > 0.0;
}

HarmonicOrders OrdersOfHarmonics(const Crystal& crystal, const ScanFrame& frame, int harmonics, double eMax)
{
    HarmonicOrders orders;
    for (int n = 2; n <= harmonics; ++n) (HarmonicPasses(crystal, frame, n, eMax) ? orders.passing : orders.forbidden).push_back(n);
    return orders;
}

std::vector<double> HarmonicContent(const HarmonicOrders& orders, int harmonics, const std::vector<double>& given)
{
    // One share for each order from 2 up, the forbidden ones too: a share of 0 for a forbidden order
    // says what leaving it out says; any other share for one is a mistake.
    const std::size_t everyOrder = harmonics > 1 ? static_cast<std::size_t>(harmonics - 1) : 0;
    if (given.size() > 1 && given.size() == everyOrder && given.size() != orders.passing.size()) {
        for (const int n : orders.forbidden) {
            if (given[static_cast<std::size_t>(n - 2)] != 0.0) return {};
        }
        std::vector<double> passing;
        for (const int n : orders.passing) passing.push_back(given[static_cast<std::size_t>(n - 2)]);
        return HarmonicContent(orders, harmonics, passing);
    }
    if (!given.empty() && given.size() != 1 && given.size() != orders.passing.size()) return {};
    std::vector<double> content(static_cast<std::size_t>(harmonics > 1 ? harmonics : 1), 0.0);
    content[0] = 1.0;
    for (std::size_t i = 0; i < orders.passing.size(); ++i) {
        const std::size_t n = static_cast<std::size_t>(orders.passing[i]);
        if (n <= content.size()) content[n - 1] = given.empty() ? kDefaultHarmonicShare : given[given.size() == 1 ? 0 : i];
    }
    return content;
}

std::string OrderReflections(const ScanFrame& frame, const std::vector<int>& orders)
{
    std::string text;
    for (std::size_t i = 0; i < orders.size(); ++i) {
        const int n = orders[i];
        text += i == 0 ? "" : i + 1 == orders.size() ? " and " : ", ";
        text += std::to_string(n * frame.primary.h) + " " + std::to_string(n * frame.primary.k) + " " +
                std::to_string(n * frame.primary.l);
    }
    return text;
}

std::string OrdinalWord(int order)
{
    static const char* const kWords[] = {"second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth"};
    return order >= 2 && order <= 9 ? kWords[order - 2] : std::to_string(order) + "-th";
}
