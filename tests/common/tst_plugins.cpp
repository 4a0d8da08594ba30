// The plugin switches and the credits start-up writes.
#include "testsupport.h"

#include "gen/plugins.h"

#include <QSettings>

class PluginsTest : public QObject
{
    Q_OBJECT

private slots:
    // The store a test writes is its own (the program's start-up writing the
    // switches is checked on the real program).
    void storeIsIsolated()
    {
        QVERIFY(QSettings("Pelmora", "Plugins").fileName().startsWith(KorvaneTest::IsolateSettings()));
    }

    void creditsHoldTheNoticesFreeImageFirst()
    {
        AppendCredits("left over from an earlier build");
        PLMInitPlugins();
        const QString credits = PLMCredits();
        const QString separator = "<br><br/><br><br/>";
        QVERIFY(credits.startsWith(separator));
        QVERIFY(!credits.contains("left over"));

        const QStringList notices = credits.split(separator, Qt::SkipEmptyParts);
        QCOMPARE(notices.size(), 5);
        QVERIFY(notices.at(0).contains("<br>FreeImage Public License Version 1.0<br/>"));
        QVERIFY(notices.at(1).contains("libheif") && notices.at(1).contains("libde265") && notices.at(1).contains("x265"));
        QVERIFY(notices.at(2).contains("libavif") && notices.at(2).contains("libaom") && notices.at(2).contains("dav1d"));
        QVERIFY(notices.at(3).contains("libjxl"));
        QVERIFY(notices.at(4).contains("<br>Xpdf GPL Version 2 or 3<br/>"));
        QVERIFY(notices.at(4).contains("COPYING3"));
        for (const QString& notice : notices)
            QCOMPARE(notice.count("<span"), notice.count("</span>"));
        // Re-running start-up rebuilds rather than appends.
        PLMInitPlugins();
        QCOMPARE(PLMCredits(), credits);
    }

    void appendAndClear()
    {
        ClearCredits();
        QVERIFY(PLMCredits().isEmpty());
        AppendCredits("one");
        AppendCredits("two");
        QCOMPARE(PLMCredits(), QString("<br><br/><br><br/>one<br><br/><br><br/>two"));
    }
};

KORVANE_TEST_MAIN(PluginsTest)
#include "tst_plugins.moc"
