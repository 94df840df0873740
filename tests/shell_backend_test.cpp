#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include "platform/file_facts.h"
#include "platform/open_with_chooser.h"
#include "platform/print_job.h"
#include "platform/shell.h"

namespace {

struct IntentRow {
    const char* name;
    ShellRequest request;
    ShellAction action;
    std::string target;
};

TEST(ShellRequestReading, FindsTheActionAndItsTarget) {
    const IntentRow rows[] = {
        {"OpenWithPathAfterOneBlank",
         {"rundll32.exe", "shell32.dll,OpenAs_RunDLL /a b/c.jpg", "", 0, 3},
         ShellAction::OpenWith,
         "/a b/c.jpg"},
        {"OpenWithKeepsASecondBlankAsPartOfThePath",
         {"rundll32.exe", "shell32.dll,OpenAs_RunDLL  x.jpg", "", 0, 3},
         ShellAction::OpenWith,
         " x.jpg"},
        {"OpenWithWithoutPath",
         {"rundll32.exe", "shell32.dll,OpenAs_RunDLL ", "", 0, 3},
         ShellAction::None,
         ""},
        {"OpenWithWithoutBlank",
         {"rundll32.exe", "shell32.dll,OpenAs_RunDLL", "", 0, 3},
         ShellAction::None,
         ""},
        {"OtherRunDllFunction",
         {"rundll32.exe", "user32.dll,LockWorkStation", "", 0, 3},
         ShellAction::None,
         ""},
        {"Properties",
         {"/p q.jpg", "", "properties", 12, 5},
         ShellAction::ShowProperties,
         "/p q.jpg"},
        {"Print", {"/p.jpg", "", "print", 12, 5}, ShellAction::Print, "/p.jpg"},
        {"OpenUrl",
         {"http://quillmere.org/", "", "open", 12, 5},
         ShellAction::OpenUrl,
         "http://quillmere.org/"},
        {"UnknownVerb", {"/p.jpg", "", "edit", 12, 5}, ShellAction::None, ""},
        {"VerbWithoutFile", {"", "", "print", 12, 5}, ShellAction::None, ""},
    };
    for (const IntentRow& row : rows) {
        SCOPED_TRACE(row.name);
        const ShellIntent intent = interpretShellRequest(row.request);
        EXPECT_EQ(intent.action, row.action);
        EXPECT_EQ(intent.target, row.target);
    }
}

TEST(PrintFit, FillsThePageKeepingAspectAndCentres) {
    const struct {
        const char* name;
        QSizeF picture;
        QRectF page;
        QRectF expected;
    } rows[] = {
        {"WidePictureOnTallPage", {400, 200}, {0, 0, 100, 200}, {0, 75, 100, 50}},
        {"TallPictureOnWidePage", {100, 400}, {0, 0, 300, 200}, {125, 0, 50, 200}},
        {"SmallPictureIsEnlarged", {2, 1}, {0, 0, 100, 100}, {0, 25, 100, 50}},
        {"PageWithOffset", {10, 10}, {50, 20, 100, 200}, {50, 70, 100, 100}},
        {"EmptyPicture", {0, 10}, {0, 0, 100, 100}, {}},
        {"EmptyPage", {10, 10}, {0, 0, 0, 100}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fitCentred(row.picture, row.page), row.expected);
    }
}

TEST(FileFactsTest, ReadsSizePixelsAndTypeOfAnOddlyNamedFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    const std::string path = folder + "/\xff snap.png";
    {
        QImage picture(7, 3, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QFile out;
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(out.open(file, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        ASSERT_TRUE(picture.save(&out, "PNG"));
    }
    const FileFacts facts = readFileFacts(path);
    EXPECT_EQ(facts.folder, dir.path());
    EXPECT_TRUE(facts.name.endsWith(" snap.png"));
    ASSERT_TRUE(facts.sizeBytes);
    EXPECT_EQ(*facts.sizeBytes, std::filesystem::file_size(path));
    EXPECT_EQ(facts.pixelSize, QSize(7, 3));
    EXPECT_TRUE(facts.modified.isValid());
    EXPECT_FALSE(facts.typeName.isEmpty());
    std::filesystem::remove(path);  // QTemporaryDir cannot spell this name to remove it
}

TEST(FileFactsTest, MissingOrBrokenFilesGiveWhatIsKnown) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string missing = QFile::encodeName(dir.filePath("gone.jpg")).toStdString();
    const FileFacts gone = readFileFacts(missing);
    EXPECT_EQ(gone.name, "gone.jpg");
    EXPECT_EQ(gone.folder, dir.path());
    EXPECT_FALSE(gone.sizeBytes);
    EXPECT_FALSE(gone.pixelSize.isValid());

    const std::string broken = QFile::encodeName(dir.filePath("broken.png")).toStdString();
    std::FILE* file = std::fopen(broken.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("\x89PNG\r\n\x1a\n truncated", file);
    std::fclose(file);
    const FileFacts facts = readFileFacts(broken);
    ASSERT_TRUE(facts.sizeBytes);
    EXPECT_EQ(*facts.sizeBytes, 18u);
    EXPECT_FALSE(facts.pixelSize.isValid());

    EXPECT_EQ(readFileFacts("/").folder, "/");
}

TEST(FileFactsTest, DescribesSizesInBytesAndDecimalUnits) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(describeSize(0), "0 bytes");
    EXPECT_EQ(describeSize(999), "999 bytes");
    EXPECT_EQ(describeSize(1500), "1,500 bytes (1.5 kB)");
    EXPECT_EQ(describeSize(1234567), "1,234,567 bytes (1.2 MB)");
    QLocale::setDefault(QLocale::system());
}

// What call returns, when it returns within the deadline. A call stuck opening the FIFO is let
// go by a writer, so that it ends rather than hang the tests; call holds only its own copies.
std::optional<QString> withinDeadline(const std::string& fifo, std::function<QString()> call) {
    auto promise = std::make_shared<std::promise<QString>>();
    std::future<QString> result = promise->get_future();
    std::thread([call, promise] { promise->set_value(call()); }).detach();
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        return result.get();
    }
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) {
        ::close(writer);
    }
    result.wait_for(std::chrono::seconds(1));
    return std::nullopt;
}

// A FIFO named like a picture: the chooser's type and programs, the properties and the print
// answer at once, by the name where the name is all there is.
TEST(NotARegularFile, AFifoNamedLikeAPictureAnswersAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid() && QDir(dir.path()).mkdir("applications"));
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    std::ofstream(folder + "/applications/viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n"
           "MimeType=image/jpeg;image/png;\n";
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    const std::string fifo = folder + "/x.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* name;
        std::function<QString()> call;
        QString expected;
    } rows[] = {
        {"Chooser",
         [fifo] {
             const ChooserOffer offer = chooserOffer(fifo);
             return offer.type.name() + (offer.apps.empty() ? ", no program" : ", programs");
         },
         "image/jpeg, programs"},
        {"Properties",
         [fifo] {
             const FileFacts facts = readFileFacts(fifo);
             return facts.name + (facts.sizeBytes ? ", a size" : ", no size");
         },
         "x.jpg, no size"},
        {"Print",
         [fifo] {
             QImage page(8, 8, QImage::Format_RGB32);
             return QString(printPictureOn(page, fifo) ? "printed" : "nothing printed");
         },
         "nothing printed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(withinDeadline(fifo, row.call), row.expected);
    }

    // A regular file is still known by its content.
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath("shot"), "PNG"));
    EXPECT_EQ(chooserOffer(folder + "/shot").type.name(), "image/png");
    qunsetenv("XDG_DATA_HOME");
}

}  // namespace
