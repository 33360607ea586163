#include "options_test_util.h"

#include "UAbout.h"

#include <QLabel>

class TestAbout : public QObject {
    Q_OBJECT

    QString text(TFAbout& About, const char* Name) {
        auto* l = About.findChild<QLabel*>(QString::fromLatin1(Name));
        return l ? l->text() : QStringLiteral("(no %1)").arg(Name);
    }

private slots:
    void fixed_texts_in_every_language() {
        for (const QByteArray& language : {QByteArray("English"), QByteArray("Deutsch")}) {
            Load_Default_Strings();
            if (language != "English") Lang_Strings[leBtn_OK] = "Jawohl";
            TFAbout about;
            about.show();
            QCOMPARE(about.windowTitle(), "About...");
            QCOMPARE(about.size(), QSize(406, 148));
            QCOMPARE(text(about, "Label2"), "M-Bus / RS232 - Converter");
            QCOMPARE(text(about, "Label6"), "Software Code : ");
            QCOMPARE(text(about, "Label9"), "SW40815");
            QCOMPARE(text(about, "Label3"), "Version :");
            QCOMPARE(text(about, "Label10"), "1.000");
            QCOMPARE(text(about, "Label8"), "Document Code :");
            QCOMPARE(text(about, "Label12"), "MN40815");
            QCOMPARE(about.findChild<QPushButton*>("LbButton1")->text(), "OK");
            QVERIFY(!about.findChild<QLabel*>("Image2")->pixmap().isNull());
        }
    }

    void logo_and_address_open_the_home_page_data() {
        QTest::addColumn<QByteArray>("clicked");
        QTest::newRow("address") << QByteArray("Label4");
        QTest::newRow("logo") << QByteArray("Image2");
    }
    void logo_and_address_open_the_home_page() {
        QFETCH(QByteArray, clicked);
        qputenv(Maker_Server_Variable, "http://127.0.0.1:9");
        TRecording_Ui_Seam seam;
        TFAbout about;
        about.show();
        QCOMPARE(text(about, "Label4"), "127.0.0.1:9");
        QTest::mouseClick(about.findChild<QLabel*>(clicked), Qt::LeftButton);
        QCOMPARE(seam.Opened, QList<QUrl>{QUrl("http://127.0.0.1:9/HOME/default.asp?frompg=SW40815")});
        qunsetenv(Maker_Server_Variable);
    }

    void ok_closes_with_ok() {
        TFAbout about;
        about.show();
        QTest::mouseClick(about.findChild<QPushButton*>("LbButton1"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
