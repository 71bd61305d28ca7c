#pragma once

#include <QRandomGenerator>
#include <cmath>
#include <span>
#include <vector>

namespace demo {

// The random numbers of the demo data. Qt's bounded() is its own algorithm, so a seed gives the
// same numbers on every platform; the salt keeps the installation's and the package's numbers
// apart when they are made from the same seed.
class Random
{
public:
    Random(quint64 seed, quint32 salt) : m_gen(quint32(seed ^ (seed >> 32)) ^ salt) {}
    int below(int n) { return n <= 1 ? 0 : int(m_gen.bounded(quint32(n))); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool percent(int p) { return below(100) < p; }
    double real(double lo, double hi, int decimals)
    {
        const double scale = std::pow(10.0, decimals);
        return std::round((lo + (hi - lo) * m_gen.generateDouble()) * scale) / scale;
    }
    template <typename T> const T &pick(std::span<const T> items)
    {
        return items[below(int(items.size()))];
    }
    template <typename T> const T &pick(const std::vector<T> &items)
    {
        return items[below(int(items.size()))];
    }

private:
    QRandomGenerator m_gen;
};

} // namespace demo
