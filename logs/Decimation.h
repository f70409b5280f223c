#pragma once
// What is drawn of a long column: at most two points per pixel column, the smallest and the
// largest sample that falls into it, so that a single sample's spike in a month of samples
// shows at every zoom. Min/max summaries over blocks of rows (16, 128, 1024 ... rows) make
// a view of a million rows cost a few thousand look-ups instead of a million.
#include <cstddef>
#include <vector>

namespace quellon {

class MinMaxPyramid {
public:
    void Build(const std::vector<float>& column);
    // The smallest and largest value of rows [from, to); from < to.
    void Range(const std::vector<float>& column, std::size_t from, std::size_t to, float& low,
               float& high) const;
    std::size_t Bytes() const;

private:
    struct Level {
        unsigned shift = 0; // rows per entry: 1 << shift
        std::vector<float> low, high;
    };
    std::vector<Level> m_levels; // finest first
};

// The points to draw of `column` (sampled at `time`, never decreasing) between the times
// `from` and `to` on a plot `pixels` wide: every sample when there are at most two per pixel
// column, else each pixel column's minimum and maximum at the column's time. One sample
// either side of the range is added so that the line runs to the plot's edges.
void Decimate(const std::vector<double>& time, const std::vector<float>& column,
              const MinMaxPyramid& pyramid, double from, double to, int pixels,
              std::vector<double>& keys, std::vector<double>& values);

} // namespace quellon

namespace quellon {
// The sample nearest to time `t` (time not empty).
std::size_t NearestSample(const std::vector<double>& time, double t);
} // namespace quellon

namespace quellon {
// The unit of the time axis for a view `span` seconds wide: seconds up to two minutes,
// minutes up to two hours, hours up to two days, then days.
struct TimeUnit {
    double seconds = 1;
    const char* name = "s";
};
TimeUnit TimeUnitFor(double span);
} // namespace quellon
