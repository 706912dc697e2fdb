#include "core/files/TypeRecognition.h"

#include "core/files/FileNaming.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>

namespace quillax {

namespace {

struct Piece {
    int offset;
    std::initializer_list<unsigned char> bytes;
};

struct Signature {
    std::initializer_list<Piece> pieces;
    const char* type; ///< nullptr: the compound-document rule
};

// Tested in this order; the first match wins.
const std::array kSignatures = {
    Signature{{{0, {0x25, 0x50, 0x44, 0x46}}}, "pdf"},
    Signature{{{0, {0xC8, 0x00, 0x00, 0x00}}}, "caj"},
    Signature{{{0, {0x43, 0x41, 0x4A, 0x00}}}, "kdh"},
    Signature{{{0, {0x4B, 0x44, 0x48, 0x20}}}, "kdh"},
    Signature{{{0, {0x48, 0x4E, 0x00, 0x00}}}, "nh"},
    Signature{{{0, {0x49, 0x49, 0x2A, 0x00}}}, "tif"},
    Signature{{{0, {0x7B, 0x5C, 0x72, 0x74, 0x66}}}, "rtf"},
    Signature{{{0, {0x4D, 0x5A}}}, "exe"},
    Signature{{{0, {0x52, 0x61, 0x72, 0x21}}}, "rar"},
    Signature{{{0, {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x08}}}, "zip"},
    Signature{{{0, {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00, 0x08, 0x00}}}, "docx"},
    Signature{{{0, {0x43, 0x57, 0x53, 0x06}}}, "swf"},
    Signature{{{0, {0x2E, 0x52, 0x4D, 0x46}}}, "rm"},
    Signature{{{0, {0x30, 0x26, 0xB2, 0x75, 0x8E}}}, "wma"},
    Signature{{{0, {0x49, 0x44, 0x33, 0x03}}}, "mp3"},
    Signature{{{0, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}}}, "png"},
    Signature{{{0, {0x47, 0x49, 0x46, 0x38, 0x39, 0x31, 0x04}}}, "gif"},
    Signature{{{0, {0xFF, 0xD8, 0xFF, 0xE1}},
               {6, {0x45, 0x78, 0x69, 0x66}},
               {12, {0x4D, 0x4D, 0x00, 0x2A}}},
              "jpg"},
    Signature{{{0, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46}}}, "jpg"},
    Signature{{{0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}}}, nullptr},
};

// The compound-document sub-rules, read at offset 512.
const std::array kCompoundRules = {
    Signature{{{512, {0xEC, 0xA5, 0xC1, 0x00}}}, "doc"},
    Signature{{{512, {0x09, 0x08, 0x10, 0x00}}}, "xls"},
    Signature{{{515, {0xF0}}}, "ppt"},
};

enum class Match { Yes, No, BeyondBlock };

Match test(const Signature& signature, const QByteArray& block) {
    int last = 0;
    for (const Piece& piece : signature.pieces) {
        last = std::max(last, piece.offset + static_cast<int>(piece.bytes.size()) - 1);
    }
    // A test that reads past the head block ends the recognition.
    if (last >= block.size()) {
        return Match::BeyondBlock;
    }
    for (const Piece& piece : signature.pieces) {
        int at = piece.offset;
        for (const unsigned char b : piece.bytes) {
            if (static_cast<unsigned char>(block.at(at++)) != b) {
                return Match::No;
            }
        }
    }
    return Match::Yes;
}

// Signature result: a type, no type (go on with the text tests), or the end of recognition.
struct SignatureResult {
    QString type;
    bool ended = false;
};

SignatureResult matchSignatures(const QByteArray& block) {
    for (const Signature& signature : kSignatures) {
        const Match m = test(signature, block);
        if (m == Match::BeyondBlock) {
            return {QString(), true};
        }
        if (m == Match::No) {
            continue;
        }
        if (signature.type != nullptr) {
            return {QString::fromLatin1(signature.type), false};
        }
        for (const Signature& rule : kCompoundRules) {
            const Match sub = test(rule, block);
            if (sub == Match::BeyondBlock) {
                return {QString(), true};
            }
            if (sub == Match::Yes) {
                return {QString::fromLatin1(rule.type), false};
            }
        }
        return {}; // a compound document of another kind: the later tests still run
    }
    return {};
}

bool containsAny(const QByteArray& lowered, std::initializer_list<const char*> markers) {
    return std::any_of(markers.begin(), markers.end(),
                       [&](const char* m) { return lowered.contains(m); });
}

bool containsAll(const QByteArray& lowered, std::initializer_list<const char*> markers) {
    return std::all_of(markers.begin(), markers.end(),
                       [&](const char* m) { return lowered.contains(m); });
}

// The markers are ASCII, so comparing lower-cased bytes gives the same answer as comparing
// text decoded through any ASCII-compatible code page.
QString recognise(QFile& file) {
    const qint64 length = file.size();
    const qint64 blockLength = std::min(length, kHeadBlockMaxLength) + 1;
    QByteArray block = file.read(std::min(length, blockLength));
    if (block.size() != std::min(length, blockLength)) {
        return {}; // a read error, or the file shrank under us
    }
    // The byte after the end of a short file reads as zero.
    block.resize(blockLength, '\0');

    const SignatureResult signature = matchSignatures(block);
    if (signature.ended || !signature.type.isEmpty()) {
        return signature.type;
    }

    if (length > kTailBlockLength) {
        if (!file.seek(length - kTailBlockLength)) {
            return {};
        }
        if (file.read(kTailBlockLength).startsWith("TAG")) {
            return QStringLiteral("mp3");
        }
    }
    if (length < kHtmlTestBelowBytes) {
        const QByteArray head = block.toLower();
        if (containsAny(head, {"<html ", "html>"}) &&
            containsAny(head, {"<title>", "<head>", "<body>"})) {
            return QStringLiteral("htm");
        }
    }
    if (length < kCaaTestBelowBytes) {
        if (!file.seek(0)) {
            return {};
        }
        const QByteArray whole = file.read(kCaaTestBelowBytes).toLower();
        if (containsAll(whole, {"a1=", "[target]",
                                "a2=", "b1=", "b2=", "c1=", "c2=", "d1=", "d2=", "doctype="})) {
            return QStringLiteral("caa");
        }
    }
    return {};
}

} // namespace

QString 打开文件判断文件类型(const QString& path) {
    if (!FileExists(path)) {
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return recognise(file).toLower();
}

} // namespace quillax
