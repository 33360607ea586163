#include "options_test_util.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

namespace {

const QRgb Red = qRgb(220, 0, 0);
const QRgb Blue = qRgb(0, 0, 200);
const QRgb Key = qRgb(255, 0, 255);

// A 48 x 48 flag of one colour on a background of the key colour, which the lower-left pixel shows.
QImage flag_image(QRgb Colour) {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(Key);
    QPainter(&image).fillRect(8, 8, 32, 32, Colour);
    return image;
}

} // namespace

class TestSoftOptions : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TRecording_Ui_Seam> seam;
    std::unique_ptr<TFake_Host> host;
    std::unique_ptr<TFSoftOptions> options;

    template <typename T> T* control(const char* Name) {
        T* c = options->findChild<T*>(QString::fromLatin1(Name));
        if (!c) qFatal("no control %s", Name);
        return c;
    }
    QLabel* label(const char* Name) { return control<QLabel>(Name); }
    QLabel* label(const QByteArray& Name) { return control<QLabel>(Name.constData()); }
    QPushButton* button(const char* Name) { return control<QPushButton>(Name); }
    QCheckBox* box(const char* Name) { return control<QCheckBox>(Name); }

    void put_lang(const QString& Name, const QByteArray& Content = "STR40 = OK") {
        QFile f(dir->filePath(Name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Content);
    }
    void put_flag(const QString& Name, QRgb Colour) {
        QVERIFY(flag_image(Colour).save(dir->filePath(Name), "BMP"));
    }

    void open() {
        options->show();
        QVERIFY(options->isVisible());
    }
    void click(QWidget* W) { QTest::mouseClick(W, Qt::LeftButton); }
    // Colour in the middle of a place's picture.
    QRgb flag_colour(int Place) {
        return label(("I_L" + QByteArray::number(Place)).constData())->pixmap().toImage().pixel(24, 24);
    }
    QStringList visible_places() {
        QStringList names;
        for (int k = 1; k <= 6; ++k) {
            QLabel* l = label(("L_L" + QByteArray::number(k)).constData());
            QLabel* i = label(("I_L" + QByteArray::number(k)).constData());
            if (l->isVisible()) names << l->text();
            if (i->isVisible() && !l->isVisible()) names << "(picture without name)";
        }
        return names;
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        reset_program_state(dir->path());
        seam = std::make_unique<TRecording_Ui_Seam>();
        host = std::make_unique<TFake_Host>();
        options = std::make_unique<TFSoftOptions>(*host);
        host->Options = options.get();
        qunsetenv(Maker_Server_Variable);
    }
    void cleanup() {
        options.reset();
        host.reset();
        seam.reset();
        dir.reset();
    }

    void first_opening() {
        put_lang("Deutsch.lng");
        put_lang("English.lng");
        Language_Name = "Deutsch";
        open();
        QCOMPARE(options->size(), QSize(509, 373));
        QCOMPARE(options->windowTitle(), "Software Options");
        QCOMPARE(label("L_SW_Code")->text(), "SW40815");
        QCOMPARE(label("L_SW_Desc")->text(), "Software Options");
        auto* tabs = control<QTabWidget>("PC_Options");
        QCOMPARE(tabs->currentWidget()->objectName(), "TS_Language");
        QCOMPARE(tabs->tabText(0), "Language");
        QCOMPARE(tabs->tabText(1), "Connection Options");
        QCOMPARE(label("L_Sel_Lang")->text(), "Selected Language : Deutsch");
        QCOMPARE(options->Language_In_Use, "Deutsch");
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 1");
        QCOMPARE(button("Btn_OK")->text(), "OK");
        QCOMPARE(button("Btn_Cancel")->text(), "Cancel");
        QCOMPARE(button("Btn_Check_Update")->text(), "Check Available Update");
        QVERIFY(label("LL_Check_Update")->isHidden());
    }

    void check_boxes_at_opening_data() {
        QTest::addColumn<int>("internet");
        QTest::addColumn<int>("update");
        QTest::addColumn<bool>("update_enabled");
        QTest::addColumn<bool>("check_enabled");
        QTest::newRow("both off") << 0 << 0 << false << false;
        QTest::newRow("update without internet") << 0 << 1 << false << false;
        QTest::newRow("internet only") << 1 << 0 << true << false;
        QTest::newRow("both on") << 1 << 1 << true << true;
    }
    void check_boxes_at_opening() {
        QFETCH(int, internet);
        QFETCH(int, update);
        QFETCH(bool, update_enabled);
        QFETCH(bool, check_enabled);
        // the boxes start from the opposite state, so each opening has to set them
        Enable_Internet = !internet;
        Enable_Update = !update;
        open();
        options->reject();
        Enable_Internet = internet;
        Enable_Update = update;
        open();
        QCOMPARE(box("CB_En_Con")->isChecked(), internet == 1);
        QCOMPARE(box("CB_Update")->isChecked(), update == 1);
        QCOMPARE(box("CB_Update")->isEnabled(), update_enabled);
        QCOMPARE(button("Btn_Check_Update")->isEnabled(), check_enabled);
    }

    void ticking_the_boxes_one_by_one() {
        open();
        click(box("CB_En_Con"));
        QVERIFY(box("CB_Update")->isEnabled());
        QVERIFY(!button("Btn_Check_Update")->isEnabled());
        click(box("CB_Update"));
        QVERIFY(button("Btn_Check_Update")->isEnabled());
        click(box("CB_En_Con"));
        QVERIFY(!box("CB_Update")->isEnabled());
        QVERIFY(box("CB_Update")->isChecked()); // disabling keeps the tick
        QVERIFY(!button("Btn_Check_Update")->isEnabled());
    }

    void ok_writes_the_settings_and_the_timer_data() {
        QTest::addColumn<int>("internet");
        QTest::addColumn<int>("update");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<int>("saved_internet");
        QTest::addColumn<int>("saved_update");
        QTest::addColumn<bool>("timer");
        QTest::newRow("tick both") << 0 << 0 << QStringList{"CB_En_Con", "CB_Update"} << 1 << 1 << true;
        QTest::newRow("untick internet only") << 1 << 1 << QStringList{"CB_En_Con"} << 0 << 1 << false;
        QTest::newRow("update ticked but disabled") << 0 << 1 << QStringList{} << 0 << 1 << false;
        QTest::newRow("no change") << 1 << 1 << QStringList{} << 1 << 1 << true;
        QTest::newRow("untick update") << 1 << 1 << QStringList{"CB_Update"} << 1 << 0 << false;
    }
    void ok_writes_the_settings_and_the_timer() {
        QFETCH(int, internet);
        QFETCH(int, update);
        QFETCH(QStringList, clicks);
        QFETCH(int, saved_internet);
        QFETCH(int, saved_update);
        QFETCH(bool, timer);
        Enable_Internet = internet;
        Enable_Update = update;
        host->Set_Update_Timer();
        open();
        for (const QString& name : clicks)
            click(box(name.toLatin1().constData()));
        click(button("Btn_OK"));
        QCOMPARE(options->result(), int(QDialog::Accepted));
        QVERIFY(!options->isVisible());
        QCOMPARE(int(Enable_Internet), saved_internet);
        QCOMPARE(int(Enable_Update), saved_update);
        QCOMPARE(host->Timer_Update.isActive(), timer);
    }

    void cancel_writes_nothing_data() {
        QTest::addColumn<bool>("close_box");
        QTest::newRow("Btn_Cancel") << false;
        QTest::newRow("close box") << true;
    }
    void cancel_writes_nothing() {
        QFETCH(bool, close_box);
        Enable_Internet = 1;
        Enable_Update = 0;
        open();
        click(box("CB_Update"));
        click(box("CB_En_Con"));
        if (close_box)
            options->close();
        else
            click(button("Btn_Cancel"));
        QCOMPARE(options->result(), int(QDialog::Rejected));
        QCOMPARE(int(Enable_Internet), 1);
        QCOMPARE(int(Enable_Update), 0);
        QVERIFY(!host->Timer_Update.isActive());
        open();
        QVERIFY(box("CB_En_Con")->isChecked());
        QVERIFY(!box("CB_Update")->isChecked());
    }

    void check_now_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("newer") << QByteArray("VER. 1.001")
                               << "<a href=\"%1/Home/download/download.asp#HD40815\">Neu verfuegbar</a>";
        QTest::newRow("not newer") << QByteArray("VER. 1.000") << "Kein Update";
    }
    void check_now() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, text);
        THttp_Test_Server server;
        QVERIFY(server.Listening);
        server.Reply("200 OK", answer);
        use_update_server(server.Base_Url());
        Lang_Strings[leLL_Check_Update_New] = "Neu verfuegbar";
        Lang_Strings[leLL_Check_Update_None] = "Kein Update";
        Enable_Internet = 1;
        Enable_Update = 1;
        open();
        control<QTabWidget>("PC_Options")->setCurrentIndex(1);
        QLabel* link = label("LL_Check_Update");
        click(button("Btn_Check_Update"));
        QVERIFY(!button("Btn_Check_Update")->isEnabled()); // one press, one answer
        QVERIFY(QTest::qWaitFor([&] { return link->isVisible(); }, 30'000));
        QCOMPARE(link->text(), text.contains("%1") ? text.arg(server.Base_Url()) : text);
        QVERIFY(button("Btn_Check_Update")->isEnabled());
        QCOMPARE(server.Requests.size(), 1);
        if (answer == "VER. 1.001") {
            emit link->linkActivated(server.Base_Url() + "/Home/download/download.asp#HD40815");
            QCOMPARE(seam->Opened,
                     QList<QUrl>{QUrl(server.Base_Url() + "/Home/download/download.asp#HD40815")});
        } else {
            QCOMPARE(link->textFormat(), Qt::PlainText);
        }
        // hidden again at the next opening
        click(button("Btn_OK"));
        open();
        QVERIFY(link->isHidden());
    }

    void a_check_ending_after_the_window_closed_shows_nothing() {
        THttp_Test_Server server;
        QVERIFY(server.Listening);
        server.Reply("200 OK", "VER. 1.001");
        use_update_server(server.Base_Url());
        Enable_Internet = 1;
        Enable_Update = 1;
        open();
        control<QTabWidget>("PC_Options")->setCurrentIndex(1);
        click(button("Btn_Check_Update"));
        click(button("Btn_Cancel"));
        open();
        QVERIFY(QTest::qWaitFor([&] { return !options->Update_Check().Busy(); }, 30'000));
        QCoreApplication::processEvents();
        QVERIFY(label("LL_Check_Update")->isHidden());
        QVERIFY(button("Btn_Check_Update")->isEnabled());
    }

    void no_language_file() {
        open();
        QVERIFY(visible_places().isEmpty());
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 0");
        QVERIFY(button("Btn_Prev")->isHidden());
        QVERIFY(button("Btn_Next")->isVisible());
        click(button("Btn_Next"));
        QCOMPARE(options->Show_Page, 1);
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 0");
    }

    void six_files_one_page() {
        for (const char* n : {"A1", "A2", "A3", "A4", "A5", "A6"})
            put_lang(QString::fromLatin1(n) + ".lng");
        open();
        QCOMPARE(visible_places(), (QStringList{"A1", "A2", "A3", "A4", "A5", "A6"}));
        QVERIFY(button("Btn_Prev")->isHidden());
        QVERIFY(button("Btn_Next")->isHidden());
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 1");
        // places 1 to 3 down the left column, 4 to 6 down the right one
        QVERIFY(label("L_L2")->y() > label("L_L1")->y());
        QCOMPARE(label("L_L4")->y(), label("L_L1")->y());
        QVERIFY(label("L_L4")->x() > label("L_L1")->x());
    }

    void seven_files_two_pages() {
        for (const char* n : {"A1", "A2", "A3", "A4", "A5", "A6", "A7"})
            put_lang(QString::fromLatin1(n) + ".lng");
        open();
        QCOMPARE(visible_places().size(), 6);
        QVERIFY(button("Btn_Prev")->isHidden());
        QVERIFY(button("Btn_Next")->isVisible());
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 2");
        click(button("Btn_Next"));
        QCOMPARE(visible_places(), QStringList{"A7"});
        QVERIFY(button("Btn_Prev")->isVisible());
        QVERIFY(button("Btn_Next")->isHidden());
        QCOMPARE(label("L_Page_Lang")->text(), "Page 2 / 2");
        click(button("Btn_Prev"));
        QCOMPARE(options->Show_Page, 1);
        QCOMPARE(visible_places().size(), 6);
        // each opening starts again on page 1
        click(button("Btn_Next"));
        options->reject();
        open();
        QCOMPARE(options->Show_Page, 1);
        QCOMPARE(label("L_Page_Lang")->text(), "Page 1 / 2");
    }

    void order_ignores_letter_case() {
        for (const char* n : {"Français.lng", "English.lng", "deutsch.lng"})
            put_lang(QString::fromUtf8(n));
        open();
        QCOMPARE(options->SL_Languages, (QStringList{"deutsch.lng", "English.lng", "Français.lng"}));
        QCOMPARE(visible_places(), (QStringList{"deutsch", "English", "Français"}));
    }

    void which_files_are_listed() {
        put_lang("English.lng");
        put_lang(".Hidden.lng");
        put_lang("Locked.lng");
        QVERIFY(QFile::setPermissions(dir->filePath("Locked.lng"), QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(QDir(dir->path()).mkdir("Folder.lng"));
        put_lang("Readme.txt");
        open();
        QStringList listed = options->SL_Languages;
        listed.sort();
        QCOMPARE(listed, (QStringList{".Hidden.lng", "English.lng"}));
    }

    void flags() {
        put_lang("Alpha.lng");
        put_lang("Beta.lng");
        put_lang("Gamma.lng");
        put_flag("Alpha.bmp", Red);
        put_flag("DefaultFlag.bmp", Blue);
        {
            QFile broken(dir->filePath("Gamma.bmp"));
            QVERIFY(broken.open(QIODevice::WriteOnly));
            broken.write("not a picture");
        }
        open();
        QCOMPARE(flag_colour(1), Red);
        QCOMPARE(flag_colour(2), Blue); // no flag of its own
        QCOMPARE(flag_colour(3), Blue); // a flag that is no picture counts as missing
        // the key colour of the lower-left pixel is not painted
        const QImage shown = label("I_L1")->pixmap().toImage();
        QCOMPARE(qAlpha(shown.pixel(0, 47)), 0);
        QCOMPARE(qAlpha(shown.pixel(2, 2)), 0);
        QCOMPARE(qAlpha(shown.pixel(24, 24)), 255);

        // without the default flag only the name is shown
        QVERIFY(QFile::remove(dir->filePath("DefaultFlag.bmp")));
        options->reject();
        open();
        QVERIFY(label("I_L1")->isVisible());
        QVERIFY(label("I_L2")->isHidden());
        QVERIFY(label("L_L2")->isVisible());
        QVERIFY(label("I_L3")->isHidden());
    }

    void shipped_languages_with_their_own_flags() {
        const QDir shipped(SW_DIST_LANGUAGE_DIR);
        for (const QString& name : shipped.entryList(QDir::Files))
            QVERIFY(QFile::copy(shipped.filePath(name), dir->filePath(name)));
        QVERIFY(QFile::remove(dir->filePath("DefaultFlag.bmp")));
        open();
        QCOMPARE(visible_places(), (QStringList{"Deutsch", "English", "Español", "Français", "Italiano"}));
        for (int k = 1; k <= 5; ++k) {
            const QByteArray place = QByteArray::number(k);
            QVERIFY2(label("I_L" + place)->isVisible(), place);
            // the ground around the flag is left out, but no colour of the flag itself
            const QImage shown = label("I_L" + place)->pixmap().toImage();
            QCOMPARE(qAlpha(shown.pixel(0, 47)), 0);
            for (int x = 4; x < 44; ++x)
                QVERIFY2(qAlpha(shown.pixel(x, 24)) == 255, place + " row at " + QByteArray::number(x));
            for (int y = 12; y < 36; ++y)
                QVERIFY2(qAlpha(shown.pixel(24, y)) == 255, place + " column at " + QByteArray::number(y));
        }
    }

    void choosing_a_language_data() {
        QTest::addColumn<QByteArray>("clicked");
        QTest::newRow("label") << QByteArray("L_L1");
        QTest::newRow("picture") << QByteArray("I_L1");
    }
    void choosing_a_language() {
        QFETCH(QByteArray, clicked);
        put_lang("Deutsch.lng", "STR6 = Verbinden\nSTR32 = Sprache : \nSTR40 = Jawohl\nSTR33 = Seite \n");
        put_lang("English.lng", "STR40 = OK");
        put_flag("Deutsch.bmp", Red);
        open();
        click(label(clicked.constData()));
        QCOMPARE(seam->Questions, QStringList{"Do you want to change the Language from English to Deutsch?"});
        // both windows at once
        QCOMPARE(host->Btn_Connect->text(), "Verbinden");
        QCOMPARE(button("Btn_OK")->text(), "Jawohl");
        QCOMPARE(label("L_Sel_Lang")->text(), "Sprache :Deutsch");
        QCOMPARE(label("L_Page_Lang")->text(), "Seite1 / 1");
        QCOMPARE(options->Language_In_Use, "Deutsch");
        QCOMPARE(Language_Name, "English"); // saved only by OK
        click(button("Btn_OK"));
        QCOMPARE(Language_Name, "Deutsch");
    }

    void cancel_keeps_the_saved_language() {
        put_lang("Deutsch.lng", "STR40 = Jawohl");
        put_lang("English.lng", "STR40 = OK");
        open();
        click(label("L_L1"));
        click(button("Btn_Cancel"));
        QCOMPARE(Language_Name, "English");
        QCOMPARE(button("Btn_OK")->text(), "Jawohl"); // the running program keeps the new texts
        open();
        QCOMPARE(options->Language_In_Use, "English");
        QCOMPARE(label("L_Sel_Lang")->text(), "Selected Language : English");
    }

    void answering_no_changes_nothing() {
        put_lang("Deutsch.lng", "STR40 = Jawohl");
        put_lang("English.lng", "STR40 = OK");
        open();
        const QStringList table = Lang_Strings;
        seam->Answer_Yes = false;
        click(label("I_L1"));
        QCOMPARE(seam->Questions.size(), 1);
        QCOMPARE(options->Language_In_Use, "English");
        QCOMPARE(Lang_Strings, table);
        QCOMPARE(button("Btn_OK")->text(), "OK");
        QCOMPARE(host->Btn_Connect->text(), QString()); // never re-applied
    }

    void the_language_in_use_still_asks_and_reloads() {
        put_lang("Deutsch.lng", "STR40 = Jawohl");
        Language_Name = "Deutsch";
        open();
        Lang_Strings[leBtn_OK] = "changed since loading";
        click(label("L_L1"));
        QCOMPARE(seam->Questions, QStringList{"Do you want to change the Language from Deutsch to Deutsch?"});
        QCOMPARE(button("Btn_OK")->text(), "Jawohl");
    }

    void a_place_on_the_second_page() {
        for (const char* n : {"A1", "A2", "A3", "A4", "A5", "A6", "A7"})
            put_lang(QString::fromLatin1(n) + ".lng", "STR33 = P ");
        open();
        click(button("Btn_Next"));
        click(label("L_L1"));
        QCOMPARE(seam->Questions, QStringList{"Do you want to change the Language from English to A7?"});
        QCOMPARE(options->Language_In_Use, "A7");
        QCOMPARE(label("L_Page_Lang")->text(), "P2 / 2");
    }

    void a_vanished_file_gives_english() {
        put_lang("Deutsch.lng", "STR40 = Jawohl");
        put_lang("English.lng", "STR41 = Abort");
        open();
        QVERIFY(QFile::remove(dir->filePath("Deutsch.lng")));
        click(label("L_L1"));
        QCOMPARE(options->Language_In_Use, "Deutsch");
        QCOMPARE(button("Btn_OK")->text(), "OK");
        QCOMPARE(button("Btn_Cancel")->text(), "Abort");
        QCOMPARE(Language_Name, "English");
    }
};

QTEST_MAIN(TestSoftOptions)
#include "test_soft_options.moc"
