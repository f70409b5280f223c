#pragma once
// The readings that the broker has not acknowledged yet, oldest first. They stay in memory
// up to a bound; beyond it they go to a spill file (one reading a line, flushed as written)
// and come back from it into memory as the memory empties, so that the order holds; the file
// goes once all it held were acknowledged. A
// reading leaves only when the broker acknowledged it. What is still held at the end is
// written to the spill file, which the next run for the same sensor publishes first.
//
// Thread-safe: the monitor adds, the client's thread hands readings out and takes the
// acknowledgements.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace quellon::feed {

class ReadingBuffer {
public:
    // `memoryBound`: readings kept in memory before the spill file takes the newer ones.
    ReadingBuffer(std::string spillPath, std::size_t memoryBound);
    ~ReadingBuffer();
    ReadingBuffer(const ReadingBuffer&) = delete;
    ReadingBuffer& operator=(const ReadingBuffer&) = delete;

    // Takes in the readings a previous run left in the spill file: true with their count
    // (0 when there is no file). False with the reason when a file is there that cannot be
    // read or added to: publishing must not start, or its end would replace or remove it.
    bool LoadLeftOver(std::size_t& count, std::string& error);
    // A new reading (one line of text without a line feed). False when it could be kept
    // neither in memory nor in the spill file (then it is kept in memory past the bound).
    bool Add(const std::string& payload);

    // The oldest reading not handed to the client yet; false when there is none.
    bool NextToHand(std::string& payload, std::uint64_t& id);
    // The client took reading `id` under message id `mid`.
    void Handed(std::uint64_t id, int mid);
    // The broker acknowledged message `mid`: its reading leaves.
    void Acknowledged(int mid);
    // Readings handed out and not acknowledged yet.
    std::size_t InFlight() const;

    std::size_t Held() const;        // in memory and in the spill file
    std::uint64_t Published() const; // acknowledged since the start
    std::size_t Spilled() const;     // in the spill file, not read back yet
    // Writes every reading still held to the spill file (beside the older ones, in order);
    // removes the file when nothing is held. False with the reason.
    bool Keep(std::string& error);
    const std::string& SpillPath() const { return m_spillPath; }

private:
    struct Entry {
        std::uint64_t id;
        std::string payload;
        bool handed = false;
        bool acked = false;
        bool fromFile = false; // read back from the spill file
    };
    void Refill(); // from the spill file while memory is below half its bound
    void DropAckedFront();
    void DropFileIfDone();
    bool OpenSpill();

    mutable std::mutex m_lock;
    std::string m_spillPath;
    std::size_t m_bound;
    std::deque<Entry> m_memory;              // oldest first; the handed ones lead
    std::size_t m_firstUnhanded = 0;         // index in m_memory
    std::map<int, std::uint64_t> m_inFlight; // mid -> id
    std::uint64_t m_nextId = 1;
    std::uint64_t m_published = 0;
    std::FILE* m_spillWrite = nullptr;
    std::FILE* m_spillRead = nullptr;
    std::size_t m_spilled = 0;     // lines in the file not read back yet
    std::size_t m_fileUnacked = 0; // read back from the file, not acknowledged yet
};

} // namespace quellon::feed
