// Compresses the files of an archive being written on several threads at once, while the
// calling thread keeps writing the archive in its own order. The calling thread reads the
// files ahead and hands them to the workers; what the compressor would have told the host
// is kept with each result and told by the calling thread at that file's turn, so the host
// hears the same calls in the same order from the thread that called it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/zbk_format.h"
#include "frame/wcx.h"

// A file's `size` bytes behind the compressor's window prefix of spaces, in a std::malloc'ed
// buffer of size + kWindowPrefixLength bytes. Null when there is no memory (*shortFile false),
// or when the file no longer holds exactly the bytes measured before, no fewer and none more
// (*shortFile true).
unsigned char* ReadForCompression(FILE* source, uint32_t size, bool* shortFile);

// Threads that compress during one pack: KYRZBK_THREADS when it holds a number from 1 on,
// else one per available core. With 1 the calling thread compresses every file at its turn,
// as a pack always did; with more, as many workers compress while the calling thread reads
// and writes. The plug-in has no setting of its own for this.
int PackThreads();

class CompressionPool {
public:
    // One report the compressor made to its callback.
    struct Report {
        const char* text; // the compressor's own text, or the job's sourcePath
        int count;
    };
    struct Job {
        enum class Stage {
            Planned,     // not read yet
            NotPrepared, // could not be read ahead: the writer handles it as if unplanned
            Short,       // the file no longer holds the bytes measured before
            Waiting,     // read, waiting for a worker
            Running,
            Compressed,  // a worker's result is in `result`, `data`, `size`, `reports`
            Yours,       // read, but no worker had started it: the caller compresses `data`
        };
        const ZbkEntry* record = nullptr;
        std::string sourcePath;
        uint32_t fileSize = 0;
        Stage stage = Stage::Planned;
        unsigned char* data = nullptr; // std::malloc'ed: prefix and file, or the stream
        int32_t size = 0;
        int result = 0;
        std::vector<Report> reports;
    };

    // threads: as PackThreads(); with fewer than 2 nothing is ever planned.
    explicit CompressionPool(int threads);
    // Stops the workers at their next report to the compressor's callback, and waits for them.
    ~CompressionPool();
    CompressionPool(const CompressionPool&) = delete;
    CompressionPool& operator=(const CompressionPool&) = delete;

    // A file marked for compression, in the order in which the archive takes them.
    void Plan(const ZbkEntry* record, const std::string& sourcePath, uint32_t fileSize);
    // Reads planned files ahead and queues them, as far as the bounds allow.
    void Fill();
    // The job of record, once no worker is busy with it any more; null when record is not
    // the next planned file. The job stays the caller's until Finish.
    Job* Take(const ZbkEntry* record);
    // Releases the job that Take gave, and reads further ahead.
    void Finish(Job* job);

private:
    void ReadAhead(Job* job);
    void Work();
    static int KYR_CALL RecordReport(char* text, int count);

    const int m_threads;
    // In flight are the jobs read ahead and not yet finished: at most m_maxJobs of them,
    // holding at most m_maxBytes of file data (only files that fit it many times over are
    // planned).
    const size_t m_maxJobs;
    const uint64_t m_maxBytes;
    uint64_t m_bytesInFlight = 0;
    std::vector<std::unique_ptr<Job>> m_plan;
    size_t m_nextToRead = 0;
    size_t m_nextToTake = 0;

    std::mutex m_lock;
    std::condition_variable m_workReady; // workers wait for a queued job or the stop
    std::condition_variable m_jobDone;   // the caller waits for a running job
    std::deque<Job*> m_queue;
    std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_workers;
};
