// The batch runner: jobs mapped on the global pool under a real progress
// dialog, results by index, cancellation.
#include "batchrunner.h"
#include "testsupport.h"
#include "tst_enginesupport.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QThreadPool>
#include <QTimer>

namespace {

QString SavePng(const QString& folder, const QString& name, const QColor& colour)
{
    QImage image(16, 12, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = QDir(folder).filePath(name);
    image.save(path, "PNG");
    return path;
}

int CountFiles(const QString& folder, const QString& pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files).size();
}

} // namespace

class BatchRunnerTest : public QObject
{
    Q_OBJECT

private:
    TestFolders folders;

    QString NewFolder() { return folders.New(); }

    struct Collected
    {
        QList<int> indexes;
        QMap<int, ItemConvertResult> results;
    };

    // What the window's result slot would see, in arrival order.
    static void Collect(QFutureWatcher<ItemConvertResult>& watcher, Collected& collected)
    {
        QObject::connect(&watcher, &QFutureWatcher<ItemConvertResult>::resultReadyAt, &watcher,
                         [&watcher, &collected](int index) {
                             collected.indexes << index;
                             collected.results.insert(index, watcher.resultAt(index));
                         });
    }

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

    void oneJobShowsAndClosesTheDialog()
    {
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".bmp"), PLMCodecBMP);
        QList<ImageConvertData> jobs{JobFor(SavePng(NewFolder(), QStringLiteral("one.png"), Qt::red), &settings)};
        QFutureWatcher<ItemConvertResult> watcher;
        Collected collected;
        Collect(watcher, collected);

        ConvertBatchRunner batch(jobs.size());
        // One file's progress cannot be counted in files: a busy bar.
        QCOMPARE(batch.Dialog()->maximum(), 0);
        QCOMPARE(batch.Dialog()->minimum(), 0);
        QCOMPARE(batch.Dialog()->minimumSize(), QSize(400, 100));
        QCOMPARE(batch.Dialog()->labelText(), QStringLiteral("Converting..."));
        QVERIFY(batch.Dialog()->parent() == nullptr);
        batch.Start(jobs, watcher);
        QCOMPARE(jobs.first().progressDlg, batch.Dialog());
        QCOMPARE(jobs.first().cancelFlag, batch.CancelFlag());
        bool shown = false;
        QTimer::singleShot(0, batch.Dialog(), [&] { shown = batch.Dialog()->isVisible(); });
        bool timedOut = false;
        GuardAgainstHang(batch, timedOut);
        batch.Exec();

        QVERIFY(!timedOut);
        QVERIFY(shown);
        QVERIFY(!batch.Dialog()->isVisible());
        QVERIFY(watcher.isFinished());
        QCOMPARE(collected.indexes, QList<int>{0});
        QCOMPARE(collected.results.value(0).state, ConvertSucceeded);
        QCOMPARE(collected.results.value(0).tgtFiles,
                 QStringList{QDir(settings.TgtFolder).filePath(QStringLiteral("one.bmp"))});
        QVERIFY(!batch.CancelFlag()->IsCanceled());
    }

    void emptyBatchDoesNotHang()
    {
        QList<ImageConvertData> jobs;
        QFutureWatcher<ItemConvertResult> watcher;
        ConvertBatchRunner batch(0);
        batch.Start(jobs, watcher);
        bool timedOut = false;
        GuardAgainstHang(batch, timedOut);
        batch.Exec();
        QVERIFY(!timedOut);
    }

    // Every result arrives with its own job's index; a failure stops nothing.
    void failedJobDoesNotStopTheBatch()
    {
        const QString sources = NewFolder();
        const ConvertSettings settings = SettingsFor(NewFolder(), QStringLiteral(".bmp"), PLMCodecBMP);
        QList<ImageConvertData> jobs;
        for (int i = 0; i < 6; ++i) {
            const QString name = QStringLiteral("job%1.png").arg(i);
            if (i == 2) {
                const QString broken = QDir(sources).filePath(name);
                QVERIFY(WriteFile(broken, "no picture"));
                jobs << JobFor(broken, &settings);
            } else {
                jobs << JobFor(SavePng(sources, name, QColor(40 * i, 0, 0)), &settings);
            }
        }
        QFutureWatcher<ItemConvertResult> watcher;
        Collected collected;
        Collect(watcher, collected);
        ConvertBatchRunner batch(jobs.size());
        batch.Start(jobs, watcher);
        bool timedOut = false;
        GuardAgainstHang(batch, timedOut);
        batch.Exec();

        QVERIFY(!timedOut);
        QCOMPARE(collected.indexes.size(), 6);
        QCOMPARE(collected.results.keys(), (QList<int>{0, 1, 2, 3, 4, 5}));
        for (int i = 0; i < 6; ++i) {
            const ItemConvertResult result = collected.results.value(i);
            if (i == 2) {
                QCOMPARE(result.state, ConvertFailed);
                QVERIFY(result.tgtFiles.isEmpty());
            } else {
                QCOMPARE(result.state, ConvertSucceeded);
                QCOMPARE(QFileInfo(result.tgtFiles.value(0)).fileName(), QStringLiteral("job%1.bmp").arg(i));
            }
        }
        QCOMPARE(CountFiles(settings.TgtFolder, QStringLiteral("*.bmp")), 5);
    }

    // Three jobs running, seven waiting, cancel before any result: the seven
    // never open their source, the three stop at their next check, and every
    // job reports itself canceled, with nothing written. The dialog stays up,
    // saying so, until the last worker has returned.
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
            // The label names the newest of the running files and the time so far.
            if (pressed || CountFiles(sources, QStringLiteral("*.started")) < 3
                || !QRegularExpression(QStringLiteral("^Converting 3 of 10: job\\d\\.kvgate\nElapsed time: 0:0\\d$"))
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

        QVERIFY(!timedOut);
        QVERIFY(pressed);
        QCOMPARE(cancelSignals, 1);
        QVERIFY(batch.CancelFlag()->IsCanceled());
        QVERIFY(visibleAfterCancel);
        QVERIFY2(labelAfterCancel.startsWith(QStringLiteral("Canceling...\nElapsed time: 0:0")),
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
