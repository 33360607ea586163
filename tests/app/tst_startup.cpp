// Start-up, the settings file, the language and the close of the main window.

#include "app_fixture.h"

#include "settings_file.h"

class TStartup : public QObject {
    Q_OBJECT

private slots:
    void First_Start_In_An_Empty_Folder() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        for (const char* Name : {"MASTER", "PROJECTS", "LANGUAGE"})
            QVERIFY2(QFileInfo(F.Path(QString::fromLatin1(Name))).isDir(), Name);
        QCOMPARE(W.windowTitle(), QStringLiteral("Velmora - Configurator SW40815 - M-Bus / RS232 "));
        QCOMPARE(W.L_SW_Code->text(), QStringLiteral("SW40815"));
        QCOMPARE(W.L_SW_Desc->text(), QStringLiteral("M-Bus / RS232 - Converter"));
        QCOMPARE(Language_Name, QStringLiteral("English"));
        QCOMPARE(Last_IPAddress, Default_IPAddress);
        QCOMPARE(Enable_Internet, 0);
        QCOMPARE(Enable_Update, 0);
        QVERIFY(!W.Timer_Update->isActive());
        QCOMPARE(W.size(), QSize(499, 512));
        QCOMPARE(W.minimumSize(), W.maximumSize());
        QVERIFY(!(W.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!W.Connected());
        QVERIFY(F.Boxes.Boxes.empty());

        F.Close_Window();
        QCOMPARE(
            F.Read_File(QStringLiteral("Tessaro.xml")),
            QByteArray(
                "<Conf_Settings><lastproj><projectname></projectname></lastproj><lastipadd><ipaddress>") +
                Default_IPAddress.toUtf8() +
                QByteArray(
                    "</ipaddress></lastipadd><lastlang><language>English</language></lastlang>"
                    "<lastinternet><enable_internet>0</enable_internet><enable_update>0</enable_update>"
                    "</lastinternet></Conf_Settings>"));
    }

    void A_Plain_File_Called_Master_Does_Not_Stop_The_Start() {
        TApp_Fixture F;
        F.Write_File(QStringLiteral("MASTER"), "not a folder");
        TFTessaroFirmWare& W = F.Open_Window();
        QVERIFY(QFileInfo(F.Path(QStringLiteral("MASTER"))).isFile());
        QVERIFY(QFileInfo(F.Path(QStringLiteral("PROJECTS"))).isDir());
        QVERIFY(QFileInfo(F.Path(QStringLiteral("LANGUAGE"))).isDir());
        QCOMPARE(W.Btn_Connect->text(), QStringLiteral("Connect"));
        QVERIFY(F.Boxes.Boxes.empty());
    }

    void Settings_Are_Read_By_The_Lookup_Rules_data() {
        QTest::addColumn<QByteArray>("File");
        QTest::addColumn<QString>("Project");
        QTest::addColumn<QString>("Address");
        QTest::addColumn<QString>("Language");
        QTest::addColumn<int>("Internet");
        QTest::addColumn<int>("Update");
        const QString D = Default_IPAddress;
        const QString E = QStringLiteral("English");
        QTest::newRow("both flags 1")
            << QByteArray(
                   "<Conf_Settings><lastproj><projectname>P1</projectname></lastproj><lastipadd><ipaddress>"
                   "10.0.0.7</ipaddress></lastipadd><lastinternet><enable_internet>1</enable_internet>"
                   "<enable_update>1</enable_update></lastinternet></Conf_Settings>")
            << "P1"
            << "10.0.0.7" << E << 1 << 1;
        QTest::newRow("only one flag 1")
            << QByteArray("<Conf_Settings><lastinternet><enable_internet>1</enable_internet>"
                          "<enable_update>0</enable_update></lastinternet></Conf_Settings>")
            << "" << D << E << 1 << 0;
        QTest::newRow("true is not 1")
            << QByteArray("<Conf_Settings><lastinternet><enable_internet>1</enable_internet>"
                          "<enable_update>true</enable_update></lastinternet></Conf_Settings>")
            << "" << D << E << 1 << 0;
        QTest::newRow("no lastinternet")
            << QByteArray("<Conf_Settings><lastproj><projectname>X</projectname></lastproj></Conf_Settings>")
            << "X" << D << E << 0 << 0;
        QTest::newRow("empty ipaddress stays empty")
            << QByteArray("<Conf_Settings><lastipadd><ipaddress></ipaddress></lastipadd></Conf_Settings>")
            << ""
            << "" << E << 0 << 0;
        QTest::newRow("foreign root name")
            << QByteArray("<Other><lastproj><projectname>R</projectname></lastproj></Other>") << "R" << D << E
            << 0 << 0;
        QTest::newRow("comment before the root")
            << QByteArray("<!-- mine --><Conf_Settings><lastproj><projectname>C</projectname></lastproj>"
                          "<lastinternet><enable_internet>1</enable_internet><enable_update>1</enable_update>"
                          "</lastinternet></Conf_Settings>")
            << "" << D << E << 0 << 0;
        QTest::newRow("two lastproj, the first counts")
            << QByteArray("<Conf_Settings><lastproj><projectname>First</projectname></lastproj><lastproj>"
                          "<projectname>Second</projectname></lastproj></Conf_Settings>")
            << "First" << D << E << 0 << 0;
        QTest::newRow("xml declaration in front")
            << QByteArray(
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Conf_Settings><lastproj><projectname>Dx"
                   "</projectname></lastproj></Conf_Settings>")
            << "Dx" << D << E << 0 << 0;
        QTest::newRow("character data and a leaf with an element")
            << QByteArray("<Conf_Settings><lastproj><projectname><![CDATA[a<b]]></projectname></lastproj>"
                          "<lastipadd><ipaddress>1.2.3.4<x/></ipaddress></lastipadd></Conf_Settings>")
            << "a<b" << D << E << 0 << 0;
        QTest::newRow("text kept untrimmed, case kept")
            << QByteArray("<Conf_Settings><lastproj><projectname> Mixed Case </projectname></lastproj>"
                          "</Conf_Settings>")
            << " Mixed Case " << D << E << 0 << 0;
        QTest::newRow("blanks only are a value, entities are resolved")
            << QByteArray(
                   "<Conf_Settings>\n  <lastproj><projectname>  </projectname></lastproj>\n  <lastipadd>"
                   "<ipaddress>a&amp;b</ipaddress></lastipadd>\n</Conf_Settings>\n")
            << "  "
            << "a&b" << E << 0 << 0;
        QTest::newRow("a leaf of two parts cannot be read")
            << QByteArray("<Conf_Settings><lastproj><projectname>a<![CDATA[b]]></projectname></lastproj>"
                          "</Conf_Settings>")
            << "" << D << E << 0 << 0;
    }
    void Settings_Are_Read_By_The_Lookup_Rules() {
        QFETCH(QByteArray, File);
        QFETCH(QString, Project);
        QFETCH(QString, Address);
        QFETCH(QString, Language);
        QFETCH(int, Internet);
        QFETCH(int, Update);
        TApp_Fixture F;
        F.Write_File(QStringLiteral("Tessaro.xml"), File);
        TFTessaroFirmWare& W = F.Open_Window();
        QCOMPARE(Last_Project, Project);
        QCOMPARE(Last_IPAddress, Address);
        QCOMPARE(Language_Name, Language);
        QCOMPARE(int(Enable_Internet), Internet);
        QCOMPARE(int(Enable_Update), Update);
        QCOMPARE(W.Timer_Update->isActive(), Internet == 1 && Update == 1);
        QCOMPARE(W.Timer_Update->interval(), 60000);
        QVERIFY(F.Boxes.Boxes.empty());

        // The save rewrites the file whole in its own layout, and it reads back the same.
        F.Close_Window();
        const QByteArray Saved = F.Read_File(QStringLiteral("Tessaro.xml"));
        QVERIFY(Saved.startsWith("<Conf_Settings><lastproj><projectname>"));
        QCOMPARE(Saved.count("<lastproj>"), 1);
        TSettings_File Again;
        QString Error;
        QCOMPARE(Again.Load(F.Path(QStringLiteral("Tessaro.xml")), Error), TSettings_File::TLoad::Read);
        QCOMPARE(Last_Project, Project);
        QCOMPARE(Last_IPAddress, Address);
        QCOMPARE(Language_Name, Language);
        QCOMPARE(int(Enable_Internet), Internet);
        QCOMPARE(int(Enable_Update), Update);
    }

    void An_Unparsable_File_Is_Kept_Aside_And_Defaults_Used() {
        TApp_Fixture F;
        const QByteArray Broken("<Conf_Settings><lastproj><projectname>P</projectname>");
        F.Write_File(QStringLiteral("Tessaro.xml.bad"), "an older broken file");
        F.Write_File(QStringLiteral("Tessaro.xml"), Broken);
        TFTessaroFirmWare& W = F.Open_Window();
        QCOMPARE(Last_Project, QString());
        QCOMPARE(Language_Name, QStringLiteral("English"));
        QCOMPARE(W.Btn_Connect->text(), QStringLiteral("Connect"));
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Icon, TBox_Icon::Error);
        QVERIFY(F.Boxes.Boxes[0].Text.contains(QStringLiteral("Tessaro.xml")));
        QCOMPARE(F.Read_File(QStringLiteral("Tessaro.xml.2.bad")), Broken);
        QCOMPARE(F.Read_File(QStringLiteral("Tessaro.xml.bad")), QByteArray("an older broken file"));

        F.Close_Window();
        QVERIFY(F.Read_File(QStringLiteral("Tessaro.xml")).startsWith("<Conf_Settings>"));
        QCOMPARE(F.Read_File(QStringLiteral("Tessaro.xml.2.bad")), Broken);
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
    }

    void A_Missing_Language_Falls_Back_And_Is_Saved_As_English() {
        TApp_Fixture F;
        F.Write_File(QStringLiteral("Tessaro.xml"),
                     "<Conf_Settings><lastlang><language>Klingon</language></lastlang></Conf_Settings>");
        F.Write_File(QStringLiteral("LANGUAGE/English.lng"), "STR6 = Link up\n");
        TFTessaroFirmWare& W = F.Open_Window();
        QCOMPARE(Language_Name, QStringLiteral("English"));
        QCOMPARE(W.Btn_Connect->text(), QStringLiteral("Link up"));
        F.Close_Window();
        QVERIFY(F.Read_File(QStringLiteral("Tessaro.xml")).contains("<language>English</language>"));
    }

    void The_Language_Reaches_Every_Control_Of_Its_Table() {
        TApp_Fixture F;
        QByteArray Lines;
        for (const TLang_Target& Target : Main_Lang_Targets)
            Lines +=
                "STR" + QByteArray::number(Target.Entry) + " = T" + QByteArray::number(Target.Entry) + "\n";
        F.Write_File(QStringLiteral("LANGUAGE/Test.lng"), Lines);
        F.Write_File(QStringLiteral("Tessaro.xml"),
                     "<Conf_Settings><lastlang><language>Test</language></lastlang></Conf_Settings>");
        TFTessaroFirmWare& W = F.Open_Window();
        for (const TLang_Target& Target : Main_Lang_Targets) {
            QWidget* Control = W.findChild<QWidget*>(QString::fromLatin1(Target.Control));
            QVERIFY2(Control, Target.Control);
            const QString Expected = QStringLiteral("T%1").arg(Target.Entry);
            QString Shown = Control->toolTip();
            if (Target.Property == lpCaption) {
                if (auto* Label = qobject_cast<QLabel*>(Control))
                    Shown = Label->text();
                else if (auto* Button = qobject_cast<QAbstractButton*>(Control))
                    Shown = Button->text();
                else if (auto* Group = qobject_cast<QGroupBox*>(Control))
                    Shown = Group->title();
            }
            QCOMPARE(Shown, Expected);
        }
        // Picture buttons without a caption show their hint only.
        QCOMPARE(W.Btn_RefreshCOM->text(), QString());
        QCOMPARE(W.Btn_Info->iconSize(), QSize(48, 48));
        QCOMPARE(W.Btn_Connect->iconSize(), QSize(24, 24));
        QVERIFY(!W.Btn_Connect->icon().isNull());

        Lang_Strings[leBtn_Connect] = QStringLiteral("switched");
        W.Change_Language();
        QCOMPARE(W.Btn_Connect->text(), QStringLiteral("switched"));
    }

    void Settings_That_Cannot_Be_Written_Are_Reported_And_Close_Still_Closes() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        W.show();
        QDir().mkdir(F.Path(QStringLiteral("Tessaro.xml"))); // a folder where the file should go
        W.Btn_Close->click();
        QVERIFY(!W.isVisible());
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Icon, TBox_Icon::Error);
        QVERIFY(F.Boxes.Boxes[0].Text.contains(QStringLiteral("Tessaro.xml")));
        F.Boxes.Boxes.clear();
        QDir().rmdir(F.Path(QStringLiteral("Tessaro.xml")));
    }

    void Options_Ok_Saves_And_Sets_The_Timer_Cancel_Does_Neither_data() {
        QTest::addColumn<bool>("Ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void Options_Ok_Saves_And_Sets_The_Timer_Cancel_Does_Neither() {
        QFETCH(bool, Ok);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        // The user ticks both options in the window, then closes it.
        TWhen Close([&] { return FSoftOptions->isVisible(); },
                    [&] {
                        Enable_Internet = 1;
                        Enable_Update = 1;
                        Ok ? FSoftOptions->accept() : FSoftOptions->reject();
                    });
        W.Btn_Opz->click();
        QVERIFY(Close.Done());
        QCOMPARE(QFileInfo::exists(F.Path(QStringLiteral("Tessaro.xml"))), Ok);
        QCOMPARE(W.Timer_Update->isActive(), Ok);
        if (Ok)
            QVERIFY(F.Read_File(QStringLiteral("Tessaro.xml")).contains("<enable_update>1</enable_update>"));
    }

    void Information_Opens_The_About_Window_Modally() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        TWhen Close([&] { return FAbout->isVisible() && FAbout->isModal(); }, [&] { FAbout->accept(); });
        W.Btn_Info->click();
        QVERIFY(Close.Done());
    }
};

QTEST_MAIN(TStartup)
#include "tst_startup.moc"
