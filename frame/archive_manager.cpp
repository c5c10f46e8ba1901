#include "frame/archive_manager.h"

#include <new>

CKyrArchiveManager::CKyrArchiveManager()
    : m_openData(nullptr), m_textBuffer(nullptr), m_changeVolProc(nullptr), m_processDataProc(nullptr),
      m_openRecord() {
    m_textBuffer = new (std::nothrow) CTextBuffer();
    if (!m_textBuffer) throw static_cast<int>(E_NO_MEMORY);
}

CKyrArchiveManager::~CKyrArchiveManager() {
    if (m_textBuffer) {
        m_textBuffer->Release();
        delete m_textBuffer;
    }
    m_openData = nullptr;
    m_textBuffer = nullptr;
    m_changeVolProc = nullptr;
    m_processDataProc = nullptr;
}

const char* CKyrArchiveManager::ClassName() { return "CKyrArchiveManager"; }

CKyrArchiveManager* CKyrArchiveManager::OpenArchive(tOpenArchiveData* openData) {
    if (openData) openData->OpenResult = E_UNKNOWN_FORMAT;
    return nullptr;
}

int CKyrArchiveManager::ReadHeader(tHeaderData*) { return E_NOT_SUPPORTED; }

int CKyrArchiveManager::ReadHeaderEx(tHeaderDataEx*) { return E_NOT_SUPPORTED; }

int CKyrArchiveManager::ProcessFile(int, char*, char*) { return E_NOT_SUPPORTED; }

bool CKyrArchiveManager::SupportsCapability(int) { return false; }

bool CKyrArchiveManager::CanYouHandleThisFile(char*) { return false; }

int CKyrArchiveManager::PackFiles(char*, char*, char*, char*, int) { return E_NOT_SUPPORTED; }

int CKyrArchiveManager::DeleteFiles(char*, char*) { return E_NOT_SUPPORTED; }

void CKyrArchiveManager::SetChangeVolProc(tChangeVolProc proc) { m_changeVolProc = proc; }

void CKyrArchiveManager::SetProcessDataProc(tProcessDataProc proc) { m_processDataProc = proc; }

void CKyrArchiveManager::RememberOpenData(const tOpenArchiveData* openData) {
    m_arcName = openData->ArcName ? openData->ArcName : "";
    m_openRecord = *openData;
    m_openRecord.ArcName = &m_arcName[0];
    m_openRecord.OpenResult = E_SUCCESS; // only accepted opens are remembered
    m_openData = &m_openRecord;
}

int CKyrArchiveManager::ReportProgress(const char* text, int count) {
    if (!m_processDataProc) return 1;
    return m_processDataProc(const_cast<char*>(text), count);
}
