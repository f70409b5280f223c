// The firmware file comes from wherever the user found it. Whatever its text, the check and
// the image load stay inside the image and agree with each other: the extent is rounded to
// multiples of 4 and lies in the image, its CRC is the CRC of those image bytes, and a file
// the check accepts is cut into blocks that fit one frame, carry every record whole (count,
// checksum) in file order, and are all accepted by the virtual sensor's bootloader, whose
// image CRC then equals the one the verify request will carry.
#include "firmware/Bootloader.h"
#include "firmware/HexFile.h"
#include "fuzz/FuzzCheck.h"
#include "serial/Crc16.h"
#include "serial/Framing.h"
#include "sim/BootloaderImage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using quellon::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellon;
    static FirmwareImage* const image = new FirmwareImage;
    const std::string text(reinterpret_cast<const char*>(data), size);
    HexFile file;
    if (!file.OpenText(text)) {
        return 0;
    }
    const HexCheck check = CheckHexFile(file);
    Check(check.ok == check.problem.empty());
    Check(check.ok || check.line >= 1);

    const HexImageExtent extent = LoadHexImage(file, *image);
    Check(extent.loaded);
    Check(extent.start % 4 == 0 && extent.end % 4 == 0);
    Check(extent.end <= FirmwareImage::kSize);
    if (extent.Empty()) {
        Check(extent.crc == 0 && extent.length == 0);
    } else {
        Check(extent.length == extent.end - extent.start);
        Check(extent.crc == Crc16Xmodem(image->Data() + extent.start, extent.length));
    }
    if (!check.ok) {
        return 0;
    }
    Check(!extent.Empty());

    Check(file.Rewind());
    ProgramBlocks blocks(file);
    std::vector<std::uint8_t> block;
    int records = 0;
    int total = 0;
    sim::BootloaderImage sensor;
    while (blocks.Next(block, records)) {
        Check(records >= 1 && records <= static_cast<int>(ProgramBlocks::kMaxRecords));
        Check(block.size() <= kMaxFramedPayload && block[0] == 0x03);
        // Every record whole: its count matches its length and its checksum sums to 0.
        std::size_t pos = 1;
        int inBlock = 0;
        while (pos < block.size()) {
            Check(block.size() - pos >= 5);
            const std::size_t n = block[pos];
            Check(block.size() - pos >= n + 5);
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < n + 5; ++i) {
                sum = static_cast<std::uint8_t>(sum + block[pos + i]);
            }
            Check(sum == 0 && block[pos + 3] <= 0x05);
            pos += n + 5;
            ++inBlock;
        }
        Check(inBlock == records);
        Check(sensor.Program(block.data() + 1, block.size() - 1));
        total += records;
    }
    Check(total == check.records);
    Check(sensor.HasData() && sensor.Crc() == extent.crc);
    Check(sensor.Start() == extent.start && sensor.End() == extent.end);
    return 0;
}
