// The virtual sensor's bootloader reads whatever arrives on its line at 57600 baud. Whatever
// the bytes, the frame assembler hands over only frames that begin with SOH, end with EOT
// and fit the frame area; a frame that decodes gives a payload that frames and decodes back
// to itself; and the bootloader, fed the decoded payloads, keeps its image extent inside the
// image and answers only with frames that decode.
#include "fuzz/FuzzCheck.h"
#include "serial/Framing.h"
#include "sim/BootFrameAssembler.h"
#include "sim/SensorCore.h"

#include <cstdint>
#include <cstdlib>

using quellon::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellon;
    using namespace quellon::sim;
    VirtualSensor::Impl sensor{Options()};
    std::lock_guard<std::mutex> lock(sensor.mu);
    sensor.mode = Mode::Bootloader;
    sensor.factoryApplication = false; // no start: the sensor stays in its bootloader

    BootFrameAssembler assembler;
    double at = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const auto e = assembler.Push(data[i]);
        Check(assembler.Frame().size() <= kFrameArea + 1);
        if (e != BootFrameAssembler::Event::Complete) {
            continue;
        }
        const auto& frame = assembler.Frame();
        Check(frame.size() >= 2 && frame.front() == kSoh && frame.back() == kEot);
        const auto payload = UnframeBootloader(frame);
        if (!payload) {
            continue;
        }
        Check(payload->size() + 4 <= frame.size());
        const auto again = FrameBootloaderPayload(*payload);
        if (payload->size() <= kMaxFramedPayload) {
            Check(again.size() <= kFrameArea);
            const auto back = UnframeBootloader(again);
            Check(back && *back == *payload);
        }
        sensor.HandleBootloader(*payload, at);
        at += 2000; // past an erase
        sensor.AdvanceBootloader(at);
        if (sensor.mode != Mode::Bootloader) {
            break; // started an application it was given
        }
        const BootloaderImage& image = sensor.image;
        if (image.HasData()) {
            Check(image.Start() <= image.End() && image.End() <= BootloaderImage::kImageSize);
            Check(image.Start() % 4 == 0 && image.End() % 4 == 0);
        }
    }
    for (const auto& tx : sensor.txQueue) {
        Check(UnframeBootloader(tx.bytes).has_value());
    }
    return 0;
}
