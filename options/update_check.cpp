#include "update_check.h"

#include "UComon.h"
#include "ULanguage.h"
#include "ui_seam.h"

#include <QLabel>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

const char* const Accept_Header = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const char* const User_Agent_Header = "User-Agent: Mozilla/3.0 (compatible; Indy Library)";
// A version answer is a few characters; of a longer one only the beginning is kept.
constexpr std::size_t Max_Answer_Bytes = 64 * 1024;

struct TTransfer {
    QByteArray* Body;
    const std::atomic<bool>* Cancel;
    bool Cut = false;
};

size_t write_body(char* Data, size_t Size, size_t Count, void* User) {
    auto* t = static_cast<TTransfer*>(User);
    const size_t n = Size * Count;
    const size_t room = Max_Answer_Bytes - static_cast<size_t>(t->Body->size());
    t->Body->append(Data, static_cast<qsizetype>(std::min(n, room)));
    if (n <= room) return n;
    t->Cut = true;
    return 0; // stops the transfer
}

// Called about once a second even while nothing arrives, so a cancel is seen promptly.
int transfer_progress(void* User, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<TTransfer*>(User)->Cancel->load() ? 1 : 0;
}

void curl_init_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

QString Maker_Base_Url() {
    QString base = qEnvironmentVariable(Maker_Server_Variable).trimmed();
    if (base.isEmpty()) base = Maker_Server_Url;
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

QString Version_Query_Url() {
    return Maker_Base_Url() + QStringLiteral("/home/download/GetversionSW.asp?nomesw=") + SW_Update_Code;
}

QString Download_Page_Url() {
    return Maker_Base_Url() + QStringLiteral("/Home/download/download.asp#HD40815");
}

QString Home_Page_Url() {
    return Maker_Base_Url() + QStringLiteral("/HOME/default.asp?frompg=") + SW_Code_Const;
}

std::int32_t Conv_Version(const QString& Ver_str) {
    const qsizetype blank = Ver_str.indexOf(u' ');
    const QString t = Trim_Low(blank < 0 ? Ver_str : Ver_str.mid(blank + 1));
    if (t.size() < 5) return -1;
    // One digit, the point (never looked at), three digits; what follows does not count.
    std::int32_t value = 0;
    for (const qsizetype i : {0, 2, 3, 4}) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool Answer_Is_Newer(const QString& Answer) {
    const QString trimmed = Trim_Low(Answer);
    const QString upper = trimmed.toUpper();
    if (upper.isEmpty() || upper == QStringLiteral("VER. 0.000")) return false;
    const std::int32_t local = Conv_Version(SW_Version);
    const std::int32_t remote = Conv_Version(trimmed);
    return local != -1 && remote != -1 && remote > local;
}

void Show_Download_Link(QLabel& Label, const QString& Link_Text) {
    Label.setTextFormat(Qt::RichText);
    Label.setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label.setOpenExternalLinks(false);
    Label.setText(QStringLiteral("<a href=\"%1\">%2</a>")
                      .arg(Download_Page_Url().toHtmlEscaped(), Link_Text.toHtmlEscaped()));
}

void Open_Link_Href(const QString& Href) {
    Ui_Seam().Open_Link(QUrl(Href));
}

bool Http_Get(const QString& Url, long Timeout_Ms, const std::atomic<bool>& Cancel, QByteArray& Body) {
    curl_init_once();
    Body.clear();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) return false;
    curl_slist* raw_headers = curl_slist_append(nullptr, Accept_Header);
    if (raw_headers) raw_headers = curl_slist_append(raw_headers, User_Agent_Header);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(raw_headers, &curl_slist_free_all);
    if (!headers) return false;

    TTransfer transfer{&Body, &Cancel};
    const QByteArray url = Url.toUtf8();
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    // Signals would reach whichever thread the program is running; time-outs must not need them.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, Timeout_Ms);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, transfer_progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode result = curl_easy_perform(c);
    const bool ok = result == CURLE_OK || (result == CURLE_WRITE_ERROR && transfer.Cut);
    if (!ok) Body.clear();
    return ok;
}

TUpdate_Check::TUpdate_Check(QObject* Parent) : QObject(Parent) {
    // libcurl's global set-up is not safe to race with a transfer; do it here, before any thread.
    curl_init_once();
    FPoll.setInterval(10);
    connect(&FPoll, &QTimer::timeout, this, &TUpdate_Check::poll);
}

TUpdate_Check::~TUpdate_Check() {
    FCancel = true;
    if (FWorker.joinable()) FWorker.join();
}

void TUpdate_Check::Check_Version(QObject* Context, TDone Done) {
    FWaiting.emplace_back(Context, std::move(Done));
    if (Busy()) return;
    FCancel = false;
    FDone = false;
    FWorker = std::thread([this, url = Version_Query_Url(), timeout = FTimeout_Ms] {
        FOk = Http_Get(url, timeout, FCancel, FBody);
        FDone.store(true, std::memory_order_release);
    });
    FPoll.start();
}

void TUpdate_Check::poll() {
    if (!FDone.load(std::memory_order_acquire)) return;
    FPoll.stop();
    FWorker.join();
    const bool newer = FOk && Answer_Is_Newer(QString::fromUtf8(FBody));
    FBody.clear();
    // A waiter may start the next check; it then has a list of its own.
    auto waiting = std::exchange(FWaiting, {});
    for (auto& [context, done] : waiting)
        if (context) done(newer);
}

void Run_Timer_Update(QTimer& Timer_Update, QLabel& LL_Update, TUpdate_Check& Check) {
    Timer_Update.stop();
    Check.Check_Version(&Timer_Update,
                        [timer = &Timer_Update, label = QPointer<QLabel>(&LL_Update)](bool Newer) {
                            if (label) {
                                if (Newer) Show_Download_Link(*label, Lang_Strings[leLL_Update]);
                                label->setVisible(Newer);
                            }
                            timer->setInterval(Update_Interval_Ms);
                            // The options may have been switched off while the server was being asked.
                            if (Enable_Internet && Enable_Update) timer->start();
                        });
}
