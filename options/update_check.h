#pragma once
// Asking the maker's web server whether a newer version of this program exists, on demand from
// the options window and every two hours from the main window's timer. The request runs on a
// thread of its own so that no window stops responding while the server is slow or silent.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

class QLabel;

// The main window's update timer: its first tick, and the pause after each check.
inline constexpr int Update_First_Interval_Ms = 60'000;
inline constexpr int Update_Interval_Ms = 7'200'000;
// An unreachable or silent server ends the check after this long.
inline constexpr long Update_Default_Timeout_Ms = 15'000;

// The maker's web server, one host for all its addresses. The reserved ".example" domain makes
// sure no real host is ever asked until a real one is configured here.
inline const QString Maker_Server_Url = QStringLiteral("http://www.velmora.example");
// When set, a base address such as "http://127.0.0.1:8080" that replaces the maker's server, for
// a company that mirrors it and for tests.
inline constexpr const char* Maker_Server_Variable = "SW40815_UPDATE_URL";

// The server's base address, without a trailing "/".
QString Maker_Base_Url();
QString Version_Query_Url();
QString Download_Page_Url();
QString Home_Page_Url();

// "VER. 1.234" (or a bare "1.234") gives 1234; -1 when the text holds no version of that form.
std::int32_t Conv_Version(const QString& Ver_str);
// True when the server's answer names a version newer than this program's.
bool Answer_Is_Newer(const QString& Answer);

// The link label shows an anchor to the download page with Link_Text.
void Show_Download_Link(QLabel& Label, const QString& Link_Text);
// Where a link label sends a clicked link: the user's default browser, through the seam.
void Open_Link_Href(const QString& Href);

// One HTTP/1.0 GET. False on any failure: no connection, an HTTP error status, the time-out, or
// Cancel becoming true. Of a very long answer only the beginning is kept.
bool Http_Get(const QString& Url, long Timeout_Ms, const std::atomic<bool>& Cancel, QByteArray& Body);

class TUpdate_Check : public QObject {
    Q_OBJECT
public:
    using TDone = std::function<void(bool Newer)>;

    explicit TUpdate_Check(QObject* Parent = nullptr);
    ~TUpdate_Check() override;

    // Asks the server and later calls Done on the interface thread, unless Context has gone by
    // then. A request made while a check runs waits for that check's result instead of asking
    // again, so two checks never overlap.
    void Check_Version(QObject* Context, TDone Done);
    bool Busy() const { return FWorker.joinable(); }

    long Timeout_Ms() const { return FTimeout_Ms; }
    void Set_Timeout_Ms(long Timeout_Ms) { FTimeout_Ms = Timeout_Ms; }

private:
    void poll();

    std::thread FWorker;
    std::atomic<bool> FCancel{false};
    // The worker's results: written before FDone is raised, read after it has ended.
    std::atomic<bool> FDone{false};
    bool FOk = false;
    QByteArray FBody;
    // The interface thread looks at FDone every 10 ms, as the waits for the converter do, so
    // nothing but the two flags crosses between the threads.
    QTimer FPoll;
    std::vector<std::pair<QPointer<QObject>, TDone>> FWaiting;
    long FTimeout_Ms = Update_Default_Timeout_Ms;
};

// The main window's periodic check: the timer rests while the check runs; afterwards the link
// label shows the download link (entry 57) or hides, and the timer is re-armed for two hours,
// provided both internet options are still set.
void Run_Timer_Update(QTimer& Timer_Update, QLabel& LL_Update, TUpdate_Check& Check);
