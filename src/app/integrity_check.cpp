#include "app/integrity_check.h"

#include "system/install_log.h"

std::wstring MissingDataFileText(const std::wstring& name, const std::wstring& folder)
{
    return L"找不到安装数据文件“" + name + L"”。\r\n请把它与安装程序放在同一个文件夹中：\r\n" + folder +
           L"\r\n然后再运行安装程序。";
}

IntegrityCheck::~IntegrityCheck()
{
    // The thread reads this object to the end: never leave it behind.
    if (thread_)
        thread_->Wait(INFINITE);
}

void IntegrityCheck::Start()
{
    thread_ = framework::WorkerThread::Start(&IntegrityCheck::CheckProc, this);
    if (!thread_)
        Check();
}

unsigned __stdcall IntegrityCheck::CheckProc(void* self)
{
    static_cast<IntegrityCheck*>(self)->Check();
    return 0;
}

void IntegrityCheck::Check()
{
    constexpr int kPayloadId = 148;
    DigestCheck result = DigestCheck::Mismatch;
    bool vouched = false;
    std::wstring missing;
    try {
        result = CheckPayloadDigest(nullptr, payload_);
        // Without a digest the window is compared whole with what was
        // loaded: a file put in the image's place before the window was
        // opened is not unpacked. Data files without a digest have nothing
        // to vouch for them: the digest covers their table.
        vouched = result == DigestCheck::Match ||
                  (result == DigestCheck::Absent && !payload_.Split() &&
                   WindowHoldsResource(nullptr, kPayloadId, L"DATA", payload_.image));
    } catch (...) {
        // Out of memory while reading: nothing vouches for the payload.
        result = DigestCheck::Mismatch;
        vouched = false;
    }
    LogLine(result == DigestCheck::Match      ? L"digest: the configuration and the payload match it"
            : result == DigestCheck::Mismatch ? L"digest: does not match; the installer is damaged"
            : vouched                         ? L"digest: none recorded; the payload in the file is the one loaded"
                                              : L"digest: none recorded; the payload in the file differs from the one loaded");
    // The data files only once their table is vouched for: their presence
    // and sizes now, their bytes piece by piece as they are unpacked.
    if (vouched && payload_.Split()) {
        const DataFilesCheck files = CheckDataFiles(payload_, &missing);
        if (files == DataFilesCheck::kMissing) {
            LogLine(L"data files: " + missing + L" is not in " + payload_.folder);
            result = DigestCheck::Mismatch;
            vouched = false;
        } else if (files == DataFilesCheck::kDamaged) {
            LogLine(L"data files: one is of another size than recorded, or no plain file; the installer is damaged");
            result = DigestCheck::Mismatch;
            vouched = false;
        } else {
            LogLine(L"data files: all " + std::to_wstring(payload_.dataFiles.size()) + L" are in " + payload_.folder +
                    L" with their recorded sizes");
        }
    }
    Finish(result, vouched, std::move(missing));
}

void IntegrityCheck::Finish(DigestCheck result, bool payloadVouched, std::wstring missing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = result;
    payloadVouched_ = payloadVouched;
    missing_ = std::move(missing);
    done_ = true;
    if (window_)
        ::PostMessageW(window_, message_, 0, 0);
}

void IntegrityCheck::NotifyWhenDone(HWND window, UINT message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
    message_ = message;
    if (done_ && window_)
        ::PostMessageW(window_, message_, 0, 0);
}

bool IntegrityCheck::Done() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

bool IntegrityCheck::Passed()
{
    if (thread_)
        thread_->Wait(INFINITE);
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ && result_ != DigestCheck::Mismatch;
}

std::wstring IntegrityCheck::MissingDataFile()
{
    if (thread_)
        thread_->Wait(INFINITE);
    std::lock_guard<std::mutex> lock(mutex_);
    return missing_;
}

const PayloadSource& IntegrityCheck::Payload()
{
    if (thread_)
        thread_->Wait(INFINITE);
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ && payloadVouched_ ? payload_ : none_;
}
