#include "archive/compression_pool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "codec/compressor.h"
#include "codec/decompressor.h"
#include "common/file_io.h"
#include "platform/platform.h"

namespace {

constexpr int kMaxThreads = 64;
// Enough files ahead that a worker finds the next one read while the calling thread
// writes, few enough that small files cost little memory.
constexpr size_t kJobsPerThread = 4;
// A file in flight is held once as read and about once more as its stream, and a worker
// holds both of its file at once: 16 MiB of files per thread keep a thread's share below
// 40 MiB with the compressor's index.
constexpr uint64_t kBytesPerThread = 16ull << 20;
// Larger files are compressed at their turn on the calling thread, streaming, in the
// compressor's bounded memory, while the workers go on with the files after them.
constexpr uint32_t kHandOffMaximum = 8u << 20;
// A smaller file compresses in about the time it takes to hand it to a worker and wake
// the calling thread again (2,000 files of 256 bytes packed slower on two threads than on
// one): it is compressed on the calling thread at its turn.
constexpr uint32_t kHandOffMinimum = 8192;

// The compressor's callback has no room for a context: each worker notes its job here.
thread_local CompressionPool::Job* t_job = nullptr;
thread_local const std::atomic<bool>* t_stopping = nullptr;

} // namespace

unsigned char* ReadForCompression(FILE* source, uint32_t size, bool* shortFile) {
    *shortFile = false;
    unsigned char* data = static_cast<unsigned char*>(std::malloc(size_t(size) + kWindowPrefixLength));
    if (!data) return nullptr;
    std::memset(data, ' ', kWindowPrefixLength);
    if (ReadUpTo(source, data + kWindowPrefixLength, size) != size || std::fgetc(source) != EOF) {
        std::free(data);
        *shortFile = true;
        return nullptr;
    }
    return data;
}

int PackThreads() {
    std::string value = platform::EnvironmentValue("KYRZBK_THREADS");
    char* end = nullptr;
    long n = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
    if (n < 1 || (end && *end)) n = platform::AvailableCores();
    return n > kMaxThreads ? kMaxThreads : static_cast<int>(n);
}

CompressionPool::CompressionPool(int threads)
    : m_threads(threads < 1 ? 1 : threads),
      m_maxJobs(kJobsPerThread * static_cast<size_t>(m_threads)),
      m_maxBytes(kBytesPerThread * static_cast<uint64_t>(m_threads)) {}

CompressionPool::~CompressionPool() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_workReady.notify_all();
    for (std::thread& t : m_workers) t.join();
    for (std::unique_ptr<Job>& job : m_plan) std::free(job->data);
}

void CompressionPool::Plan(const ZbkEntry* record, const std::string& sourcePath, uint32_t fileSize) {
    if (m_threads < 2 || fileSize < kHandOffMinimum || fileSize > kHandOffMaximum) return;
    std::unique_ptr<Job> job(new Job());
    job->record = record;
    job->sourcePath = sourcePath;
    job->fileSize = fileSize;
    m_plan.push_back(std::move(job));
}

void CompressionPool::Fill() {
    while (m_nextToRead < m_plan.size()) {
        Job* job = m_plan[m_nextToRead].get();
        size_t inFlight = m_nextToRead - m_nextToTake;
        if (inFlight >= m_maxJobs) return;
        if (m_bytesInFlight + job->fileSize > m_maxBytes) return;
        ReadAhead(job);
        m_bytesInFlight += job->fileSize;
        ++m_nextToRead;
        if (job->stage != Job::Stage::Waiting) continue;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_queue.push_back(job);
        }
        m_workReady.notify_one();
        // Workers start with the first file to compress, one per thread: the calling
        // thread mostly reads and waits, and compresses only a file that no worker has
        // started by its turn.
        while (static_cast<int>(m_workers.size()) < m_threads) {
            try {
                m_workers.emplace_back([this] { Work(); });
            } catch (...) {
                break; // fewer workers: the calling thread takes what they leave
            }
        }
    }
}

void CompressionPool::ReadAhead(Job* job) {
    // On the calling thread, like every other read of the pack: the order of reads stays
    // that of the files, and a file that cannot be read fails at its own turn.
    job->stage = Job::Stage::NotPrepared;
    FILE* source = platform::OpenFile(job->sourcePath.c_str(), "rb");
    if (!source) return;
    std::setvbuf(source, nullptr, _IONBF, 0);
    bool shortFile = false;
    if (unsigned char* data = ReadForCompression(source, job->fileSize, &shortFile)) {
        job->data = data;
        job->size = static_cast<int32_t>(job->fileSize + kWindowPrefixLength);
        job->stage = Job::Stage::Waiting;
    } else if (shortFile) {
        job->stage = Job::Stage::Short;
    }
    std::fclose(source);
}

CompressionPool::Job* CompressionPool::Take(const ZbkEntry* record) {
    if (m_nextToTake >= m_plan.size() || m_plan[m_nextToTake]->record != record) return nullptr;
    Fill();
    Job* job = m_plan[m_nextToTake].get();
    std::unique_lock<std::mutex> hold(m_lock);
    if (job->stage == Job::Stage::Waiting) {
        // Jobs are queued and taken in plan order, so a waiting one is at the front.
        m_queue.pop_front();
        job->stage = Job::Stage::Yours;
    }
    m_jobDone.wait(hold, [job] { return job->stage != Job::Stage::Running; });
    return job;
}

void CompressionPool::Finish(Job* job) {
    std::free(job->data);
    job->data = nullptr;
    std::vector<Report>().swap(job->reports);
    m_bytesInFlight -= job->fileSize;
    ++m_nextToTake;
    Fill();
}

int KYR_CALL CompressionPool::RecordReport(char* text, int count) {
    if (t_stopping->load(std::memory_order_relaxed)) return 0;
    t_job->reports.push_back({text, count});
    return 1;
}

void CompressionPool::Work() {
    t_stopping = &m_stopping;
    for (;;) {
        Job* job;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_workReady.wait(hold, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            job = m_queue.front();
            m_queue.pop_front();
            job->stage = Job::Stage::Running;
        }
        t_job = job;
        unsigned char* data = job->data;
        int32_t size = job->size;
        int result;
        Job::Stage stage = Job::Stage::Compressed;
        // Always with a name, so that the stop reaches the compressor through its reports;
        // the writer tells the host only what a pack on one thread would have.
        try {
            result = CompressBuffer(&data, &size, job->sourcePath.c_str(), RecordReport);
        } catch (...) {
            // No memory for the reports: the calling thread compresses it at its turn.
            result = E_NO_MEMORY;
            stage = Job::Stage::Yours;
            std::vector<Report>().swap(job->reports);
        }
        {
            std::lock_guard<std::mutex> hold(m_lock);
            job->data = data;
            job->size = size;
            job->result = result;
            job->stage = stage;
        }
        m_jobDone.notify_all();
    }
}
