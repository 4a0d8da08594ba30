// The packed metadata entry shared by the program (packing) and the format
// plugin (unpacking): separators and escape characters inside keys and
// values must not shift the pairs.
#include "graphics/metadatapacking.h"
#include "testsupport.h"

class TestFiPacking : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("plain") << QStringList{"Author", "Comment"} << QStringList{"Ann", "Nice"};
        QTest::newRow("separators in values")
            << QStringList{"FIM06Keywords", "FIM07XMLPacket", "FIM00Comment"}
            << QStringList{"one;two", "<x a=\"&amp;\">T; x</x>", "last"};
        QTest::newRow("escapes") << QStringList{"a\\;b", "c\\"} << QStringList{"\\", "x\\\\;y;"};
        QTest::newRow("empty values") << QStringList{"A", "B", "C"} << QStringList{"", "", ""};
        QTest::newRow("key ending like the suffix") << QStringList{"XFIMD"} << QStringList{"v"};
    }

    void roundTrip()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        QString packedKeys, packedValues;
        MetadataPacking::Pack(keys, values, packedKeys, packedValues);
        QVERIFY(packedKeys.endsWith(QLatin1String("FIMD")));
        QCOMPARE(packedKeys.count(QLatin1Char(';')) - packedKeys.count(QLatin1String("\\;")), keys.size() - 1);

        QStringList outKeys, outValues;
        QVERIFY(MetadataPacking::Unpack(packedKeys, packedValues, outKeys, outValues));
        QCOMPARE(outKeys, keys);
        QCOMPARE(outValues, values);
    }

    void packingRules()
    {
        QString k, v;
        MetadataPacking::Pack({"A", "", "B"}, {"1", "skipped", "2"}, k, v);
        QCOMPARE(k, QStringLiteral("A;BFIMD"));
        QCOMPARE(v, QStringLiteral("1;2"));
        MetadataPacking::Pack({}, {}, k, v);
        QVERIFY(k.isEmpty() && v.isEmpty());

        QStringList keys, values;
        QVERIFY(!MetadataPacking::Unpack(QStringLiteral("A;B"), QStringLiteral("1;2"), keys, values));
        // An entry packed without escaping has values split too often: the
        // pairs stay aligned by key and the surplus is dropped, never shifted
        // into a missing key.
        QVERIFY(MetadataPacking::Unpack(QStringLiteral("A;BFIMD"), QStringLiteral("1"), keys, values));
        QCOMPARE(values, QStringList({"1", ""}));
        QVERIFY(MetadataPacking::Unpack(QStringLiteral("AFIMD"), QStringLiteral("x;y"), keys, values));
        QCOMPARE(values, QStringList({"x"}));
    }
};

KORVANE_TEST_MAIN(TestFiPacking)
#include "tst_fipacking.moc"
