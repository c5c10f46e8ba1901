// The common type through which the entry layer drives every kind of file it can show
// as an archive. Each operation's default declines the request.
#pragma once

#include <string>

#include "common/text_buffer.h"
#include "frame/wcx.h"

class CKyrArchiveManager {
public:
    CKyrArchiveManager(); // throws int 11 when the text buffer cannot be made
    virtual const char* ClassName();
    virtual CKyrArchiveManager* OpenArchive(tOpenArchiveData* openData);
    virtual int ReadHeader(tHeaderData* headerData);
    // The same with the host's long names and 64-bit sizes (ReadHeaderEx, ReadHeaderExW).
    virtual int ReadHeaderEx(tHeaderDataEx* headerData);
    virtual int ProcessFile(int operation, char* destPath, char* destName);
    virtual bool SupportsCapability(int flags);
    virtual bool CanYouHandleThisFile(char* fileName);
    virtual int PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags);
    virtual int DeleteFiles(char* packedFile, char* deleteList);
    virtual void SetChangeVolProc(tChangeVolProc proc);
    virtual void SetProcessDataProc(tProcessDataProc proc);
    virtual ~CKyrArchiveManager();

    CKyrArchiveManager(const CKyrArchiveManager&) = delete;
    CKyrArchiveManager& operator=(const CKyrArchiveManager&) = delete;

    tProcessDataProc ProcessDataProc() const { return m_processDataProc; }
    tChangeVolProc ChangeVolProc() const { return m_changeVolProc; }

    // The host's wide callbacks for this archive. The entry layer hands the manager a relay
    // as its process-data callback and reaches the wide one through it: managers report
    // in the request's text and never see UTF-16.
    void SetProcessDataProcW(tProcessDataProcW proc) { m_processDataProcW = proc; }
    void SetChangeVolProcW(tChangeVolProcW proc) { m_changeVolProcW = proc; }
    tProcessDataProcW ProcessDataProcW() const { return m_processDataProcW; }
    tChangeVolProcW ChangeVolProcW() const { return m_changeVolProcW; }

protected:
    // Keeps the two fields that later calls read; the host's record may not outlive the open.
    void RememberOpenData(const tOpenArchiveData* openData);
    // Calls the process-data callback; 1 (go on) when none is set.
    int ReportProgress(const char* text, int count);
    // Runs an operation that may throw: a thrown int is its result code, anything else
    // (exhausted memory) becomes `otherwise`. Operations the host calls unguarded use it.
    template <typename Operation>
    static int Guarded(Operation operation, int otherwise = E_NO_MEMORY) {
        try {
            return operation();
        } catch (int code) {
            return code;
        } catch (...) {
            return otherwise;
        }
    }

    tOpenArchiveData* m_openData;
    CTextBuffer* m_textBuffer;
    tChangeVolProc m_changeVolProc;
    tProcessDataProc m_processDataProc;

private:
    tProcessDataProcW m_processDataProcW = nullptr;
    tChangeVolProcW m_changeVolProcW = nullptr;
    tOpenArchiveData m_openRecord;
    std::string m_arcName;
};
