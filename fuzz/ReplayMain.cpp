// Feeds every file of the given folders (or the given files) to the fuzz target once, so a corpus
// runs as an ordinary test in any build, without libFuzzer.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
bool runFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (QFileInfo(arg).isDir()) {
            const QDir dir(arg);
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
                files.append(dir.filePath(name));
        } else {
            files.append(arg);
        }
        for (const QString& f : files) {
            if (!runFile(f))
                return 1;
            ++count;
        }
    }
    // An empty or mistyped corpus path must not pass as a clean run.
    if (count == 0) {
        std::fprintf(stderr, "no input files given\n");
        return 1;
    }
    std::printf("%d inputs ran clean\n", count);
    return 0;
}
