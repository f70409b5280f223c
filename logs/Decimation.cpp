#include "logs/Decimation.h"

#include <algorithm>

namespace quellon {

namespace {
// Blocks of 16 rows, then each level 8 blocks of the one below: powers of two, so that a
// row's block and its place in it are shifts and masks.
constexpr unsigned kFirstShift = 4;
constexpr unsigned kFactorShift = 3;
} // namespace

void MinMaxPyramid::Build(const std::vector<float>& column) {
    m_levels.clear();
    const std::vector<float>* lowBelow = &column;
    const std::vector<float>* highBelow = &column;
    std::size_t group = std::size_t{1} << kFirstShift; // entries of the level below per entry
    unsigned shift = kFirstShift;
    while (lowBelow->size() >= group) {
        Level level;
        level.shift = shift;
        const std::size_t n = lowBelow->size() / group; // whole blocks only
        level.low.resize(n);
        level.high.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto lb = lowBelow->begin() + static_cast<std::ptrdiff_t>(i * group);
            const auto hb = highBelow->begin() + static_cast<std::ptrdiff_t>(i * group);
            level.low[i] = *std::min_element(lb, lb + static_cast<std::ptrdiff_t>(group));
            level.high[i] = *std::max_element(hb, hb + static_cast<std::ptrdiff_t>(group));
        }
        m_levels.push_back(std::move(level));
        lowBelow = &m_levels.back().low;
        highBelow = &m_levels.back().high;
        group = std::size_t{1} << kFactorShift;
        shift += kFactorShift;
    }
}

std::size_t MinMaxPyramid::Bytes() const {
    std::size_t n = 0;
    for (const Level& l : m_levels) {
        n += (l.low.capacity() + l.high.capacity()) * sizeof(float);
    }
    return n;
}

void MinMaxPyramid::Range(const std::vector<float>& column, std::size_t from, std::size_t to,
                          float& low, float& high) const {
    low = column[from];
    high = column[from];
    const auto fits = [this, to](std::size_t level, std::size_t i) {
        const Level& l = m_levels[level];
        const std::size_t block = std::size_t{1} << l.shift;
        return (i & (block - 1)) == 0 && i + block <= to && (i >> l.shift) < l.low.size();
    };
    std::size_t i = from;
    while (i < to) {
        if (m_levels.empty() || !fits(0, i)) {
            low = std::min(low, column[i]);
            high = std::max(high, column[i]);
            ++i;
            continue;
        }
        // The largest block that starts at this row and ends within the range.
        std::size_t k = 0;
        while (k + 1 < m_levels.size() && fits(k + 1, i)) {
            ++k;
        }
        const Level& l = m_levels[k];
        low = std::min(low, l.low[i >> l.shift]);
        high = std::max(high, l.high[i >> l.shift]);
        i += std::size_t{1} << l.shift;
    }
}

void Decimate(const std::vector<double>& time, const std::vector<float>& column,
              const MinMaxPyramid& pyramid, double from, double to, int pixels,
              std::vector<double>& keys, std::vector<double>& values) {
    keys.clear();
    values.clear();
    if (time.empty() || pixels <= 0 || !(to > from)) {
        return;
    }
    const auto at = [&time](double t) {
        return static_cast<std::size_t>(std::lower_bound(time.begin(), time.end(), t) -
                                        time.begin());
    };
    const std::size_t first = at(from);
    const std::size_t last = static_cast<std::size_t>(
        std::upper_bound(time.begin(), time.end(), to) - time.begin()); // one past
    const auto add = [&](std::size_t i) {
        keys.push_back(time[i]);
        values.push_back(column[i]);
    };
    if (first > 0) {
        add(first - 1);
    }
    if (last - first <= 2 * static_cast<std::size_t>(pixels)) {
        for (std::size_t i = first; i < last; ++i) {
            add(i);
        }
    } else {
        const double width = (to - from) / pixels;
        std::size_t begin = first;
        for (int p = 0; p < pixels && begin < last; ++p) {
            const double edge = from + width * (p + 1);
            std::size_t end =
                p + 1 == pixels
                    ? last
                    : static_cast<std::size_t>(
                          std::lower_bound(time.begin() + static_cast<std::ptrdiff_t>(begin),
                                           time.begin() + static_cast<std::ptrdiff_t>(last), edge) -
                          time.begin());
            end = std::min(end, last);
            if (end == begin) {
                continue;
            }
            float low = 0;
            float high = 0;
            pyramid.Range(column, begin, end, low, high);
            // The pixel column's time: its samples' middle, so that zooming keeps it in place.
            const double t = time[begin] + (time[end - 1] - time[begin]) / 2;
            // Enter from the side nearer the last point drawn, so that flat lines stay flat.
            const bool rising = values.empty() || values.back() <= low;
            keys.push_back(t);
            values.push_back(rising ? low : high);
            if (high != low) {
                keys.push_back(t);
                values.push_back(rising ? high : low);
            }
            begin = end;
        }
    }
    if (last < time.size()) {
        add(last);
    }
}

} // namespace quellon

namespace quellon {
std::size_t NearestSample(const std::vector<double>& time, double t) {
    const auto it = std::lower_bound(time.begin(), time.end(), t);
    std::size_t i = static_cast<std::size_t>(it - time.begin());
    if (i == time.size() || (i > 0 && t - time[i - 1] < time[i] - t)) {
        --i;
    }
    return i;
}
} // namespace quellon

namespace quellon {
TimeUnit TimeUnitFor(double span) {
    if (span <= 120) {
        return {1, "s"};
    }
    if (span <= 2 * 3600) {
        return {60, "min"};
    }
    if (span <= 2 * 86400) {
        return {3600, "h"};
    }
    return {86400, "days"};
}
} // namespace quellon
