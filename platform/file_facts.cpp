#include "platform/file_facts.h"

#include <sys/stat.h>

#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QMimeDatabase>

#include "platform/file_system_probe.h"
#include "platform/regular_qfile.h"

namespace {

// Names are shown, not used to open anything, so a lossy decoding of odd bytes is harmless.
QString displayName(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

}  // namespace

FileFacts readFileFacts(const std::string& nativePath) {
    FileFacts facts;
    const auto slash = nativePath.rfind('/');
    const std::string name = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);
    const std::string folder =
        slash == std::string::npos ? std::string() : nativePath.substr(0, slash == 0 ? 1 : slash);
    facts.name = displayName(name);
    facts.folder = displayName(folder);

    // The file is opened by its bytes, which a QString round trip could alter.
    QFile file;
    struct stat status {};
    if (!openRegularFile(nativePath, file) || ::fstat(file.handle(), &status) != 0) {
        return facts;
    }
    noteFileSystemCall(FileSystemCall::Read, nullptr);
    facts.sizeBytes = static_cast<uint64_t>(status.st_size);
    facts.modified = QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec);
    facts.typeName = QMimeDatabase().mimeTypeForFileNameAndData(facts.name, &file).comment();
    file.seek(0);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    facts.pixelSize = reader.size();
    return facts;
}

QString describeSize(uint64_t bytes) {
    const QLocale locale;
    QString exact = QStringLiteral("%1 bytes").arg(locale.toString(qulonglong(bytes)));
    if (bytes < 1000) {  // the decimal units begin at a thousand
        return exact;
    }
    return QStringLiteral("%1 (%2)").arg(
        exact, locale.formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat));
}
