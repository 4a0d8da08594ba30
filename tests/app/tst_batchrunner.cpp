// The batch runner: jobs mapped on the global pool under a real progress dialog, results by index, cancellation.
#include "batchrunner.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

class BatchRunnerTest : public QObject
{
    Q_OBJECT

private:
    TestFolders folders;

    QString NewFolder() { return folders.New(); }
    static int CountFiles(const QString& folder, const QString& pattern) { return QDir(folder).entryList({pattern}, QDir::Files).size(); }

    struct Collected { QList<int> indexes; QMap<int, ItemConvertResult> results; };

    // What the window's result slot would see, in arrival order.
    static void Collect(QFutureWatcher<ItemConvertResult>& watcher, Collected& collected)
    {
        QObject::connect(&watcher, &QFutureWatcher<ItemConvertResult>::resultReadyAt, &watcher,
                         [&watcher, &collected](int index) {
                             collected.indexes << index;
                             collected.results.insert(index, watcher.resultAt(index));
                         });
    }

    // Notes that the dialog was shown, however soon a fast batch closes it.
    struct ShowSpy : QObject
    {
        bool shown = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            shown = shown || event->type() == QEvent::Show;
            return false;
        }
    };

    // A batch that does not end by itself within the limit is a failure, not a hang.
    static void GuardAgainstHang(ConvertBatchRunner& batch, bool& timedOut)
    {
        QTimer::singleShot(60000, batch.Dialog(), [&batch, &timedOut] {
            timedOut = true;
            batch.Dialog()->cancel();
        });
    }

private slots:
    void initTestCase()
    {
        UseTestImageFormats();
        QVERIFY(folders.IsValid());
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
    }

    // Every result arrives with its own job's index, a failure stops nothing, and the dialog (a busy bar for one
    // file) shows and closes; no jobs at all do not hang.
    void batches_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("broken");        // the job whose source is no picture, or -1
        QTest::newRow("no jobs") << 0 << -1;
        QTest::newRow("one job") << 1 << -1;
        QTest::newRow("six, the third broken") << 6 << 2;
    }

    void batches()
    {
        QFETCH(int, count);
        QFETCH(int, broken);
        const QString sources = NewFolder();
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".bmp"), PLMCodecBMP);
        QList<ImageConvertData> jobs;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("job%1.png").arg(i);
            if (i == broken)
                QVERIFY(WriteFile(QDir(sources).filePath(name), "no picture"));
            else
                QVERIFY(Filled(16, 12, QColor(40 * i, 0, 0)).save(QDir(sources).filePath(name)));
            jobs << JobFor(QDir(sources).filePath(name), &settings);
        }
        QFutureWatcher<ItemConvertResult> watcher;
        Collected collected;
        Collect(watcher, collected);
        ConvertBatchRunner batch(jobs.size());
        if (count == 1)
            QCOMPARE(batch.Dialog()->maximum(), 0);
        ShowSpy spy;
        batch.Dialog()->installEventFilter(&spy);
        batch.Start(jobs, watcher);
        bool timedOut = false;
        GuardAgainstHang(batch, timedOut);
        batch.Exec();
        QVERIFY(!timedOut && watcher.isFinished() && !batch.Dialog()->isVisible() && (spy.shown || count == 0));
        if (count == 1)
            QVERIFY(!batch.CancelFlag()->IsCanceled());
        QCOMPARE(collected.indexes.size(), count);
        for (int i = 0; i < count; ++i) {
            const ItemConvertResult result = collected.results.value(i, ItemConvertResult());
            QCOMPARE(result.state, i == broken ? ConvertFailed : ConvertSucceeded);
            QCOMPARE(result.tgtFiles, i == broken ? QStringList()
                                                  : QStringList{QDir(settings.TgtFolder).filePath(QStringLiteral("job%1.bmp").arg(i))});
        }
        QCOMPARE(CountFiles(settings.TgtFolder, QStringLiteral("*.bmp")), count - (broken >= 0 ? 1 : 0));
    }

    // Three jobs running, seven waiting, cancel before any result: the seven never open their source, the three stop
    // at their next check, and every job reports itself canceled, with nothing written. The dialog stays up, saying
    // so, until the last worker has returned.
    void cancelWhileThreeRunAndSevenWait()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(3);
        const QString sources = NewFolder();
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".bmp"), PLMCodecBMP);
        QList<ImageConvertData> jobs;
        for (int i = 0; i < 10; ++i) {
            const QString path = QDir(sources).filePath(QStringLiteral("job%1.kvgate").arg(i));
            QVERIFY(WriteFile(path, "gate"));
            jobs << JobFor(path, &settings);
        }
        QFutureWatcher<ItemConvertResult> watcher;
        Collected collected;
        Collect(watcher, collected);
        ConvertBatchRunner batch(jobs.size());
        int cancelSignals = 0;
        connect(batch.Dialog(), &QProgressDialog::canceled, this, [&cancelSignals] { ++cancelSignals; });
        batch.Start(jobs, watcher);
        // Once three readers are inside read(), press Cancel, then let them go on.
        QTimer poll;
        bool pressed = false;
        QString labelAfterCancel;
        bool visibleAfterCancel = false;
        connect(&poll, &QTimer::timeout, this, [&] {
            // The label names the newest of the running files and the time so far (m:ss or h:mm:ss).
            if (pressed || CountFiles(sources, QStringLiteral("*.started")) < 3
                || !QRegularExpression(QStringLiteral("^Converting 3 of 10: job\\d\\.kvgate\nElapsed time: \\d+:\\d\\d(:\\d\\d)?$"))
                        .match(batch.Dialog()->labelText()).hasMatch())
                return;
            pressed = true;
            QPushButton* cancelButton = batch.Dialog()->findChild<QPushButton*>();
            QVERIFY(cancelButton);
            cancelButton->click();
            labelAfterCancel = batch.Dialog()->labelText();
            visibleAfterCancel = batch.Dialog()->isVisible();
            for (int i = 0; i < 10; ++i)
                WriteFile(QDir(sources).filePath(QStringLiteral("job%1.kvgate.go").arg(i)), "go");
        });
        poll.start(5);
        bool timedOut = false;
        GuardAgainstHang(batch, timedOut);
        batch.Exec();
        poll.stop();
        QVERIFY(!timedOut && pressed && batch.CancelFlag()->IsCanceled() && visibleAfterCancel);
        QCOMPARE(cancelSignals, 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Canceling...\nElapsed time: \\d+:\\d\\d")).match(labelAfterCancel).hasMatch(),
                 qPrintable(labelAfterCancel));
        QCOMPARE(CountFiles(sources, QStringLiteral("*.started")), 3);
        QCOMPARE(collected.indexes.size(), 10);
        for (const ItemConvertResult& result : qAsConst(collected.results)) {
            QCOMPARE(result.state, ConvertCanceled);
            QVERIFY(result.tgtFiles.isEmpty());
        }
        QCOMPARE(CountFiles(settings.TgtFolder, QStringLiteral("*")), 0);
        for (const ImageConvertData& job : jobs)
            QCOMPARE(job.state, ConvertCanceled);
    }
};

KORVANE_TEST_MAIN(BatchRunnerTest)
#include "tst_batchrunner.moc"
