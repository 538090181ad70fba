// A QCoreApplication (or QApplication) for the whole test program, and a
// fresh workbook folder per test through QUORLEX_BMS_WORKBOOK_DIR.
#pragma once

#include "QtTestSupport.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace bms::test {

// Points the workbook folder at a temporary directory for one test.
class WorkbookFolderFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("QUORLEX_BMS_WORKBOOK_DIR", dir_.path().toUtf8());
    }
    void TearDown() override { qunsetenv("QUORLEX_BMS_WORKBOOK_DIR"); }
    QString folder() const { return dir_.path(); }
    QStringList files(const QString& pattern) const
    {
        QStringList names = QDir(dir_.path()).entryList({pattern}, QDir::Files, QDir::Name);
        for (QString& n : names)
            n = dir_.filePath(n);
        return names;
    }

private:
    QTemporaryDir dir_;
};

} // namespace bms::test
