#include "logs/Decimation.h"

#include <algorithm>

namespace quellon {

namespace {
constexpr std::size_t kFirstBlock = 16;
constexpr std::size_t kFactor = 8;
} // namespace

void MinMaxPyramid::Build(const std::vector<float>& column) {
    m_levels.clear();
    const std::vector<float>* lowBelow = &column;
    const std::vector<float>* highBelow = &column;
    std::size_t group = kFirstBlock; // entries of the level below per entry
    std::size_t block = kFirstBlock;
    while (lowBelow->size() >= group) {
        Level level;
        level.block = block;
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
        group = kFactor;
        block *= kFactor;
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
    std::size_t i = from;
    while (i < to) {
        bool used = false;
        for (std::size_t k = m_levels.size(); k-- > 0;) {
            const Level& l = m_levels[k];
            const std::size_t b = l.block;
            if (i % b == 0 && i + b <= to && i / b < l.low.size()) {
                low = std::min(low, l.low[i / b]);
                high = std::max(high, l.high[i / b]);
                i += b;
                used = true;
                break;
            }
        }
        if (!used) {
            low = std::min(low, column[i]);
            high = std::max(high, column[i]);
            ++i;
        }
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
            std::size_t end = p + 1 == pixels ? last : std::max(begin, at(edge));
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
