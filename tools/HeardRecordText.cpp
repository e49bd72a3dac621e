#include "tools/HeardRecordText.h"

#include "base/GbkText.h"

namespace kestrel {

namespace {
void AppendField(std::string& line, std::string_view key, std::string_view gbk)
{
    line += ' ';
    line += key;
    line += "=\"";
    line += GbkToUtf8(gbk);
    line += '"';
}
} // namespace

std::string DescribeHeardRecord(const LinkRecord& record, std::string_view sender)
{
    std::string line = "from " + std::string(sender) + ":";
    AppendField(line, "name", FieldText(record.name));
    AppendField(line, "caption", FieldText(record.caption));
    AppendField(line, "url", FieldText(record.url));
    AppendField(line, "picture", FieldText(record.hotPicture));
    AppendField(line, "cool-picture", FieldText(record.coolPicture));
    return line;
}

std::string DescribeSignature(const FrameView& frame, const std::vector<TrustedKey>* trusted)
{
    SignatureTrailer trailer;
    switch (ReadSignatureTrailer(frame, trailer)) {
    case TrailerFault::None:
        break;
    case TrailerFault::NoTrailer:
        return "unsigned";
    case TrailerFault::WrongLength:
        return "not signed properly: wrong length";
    case TrailerFault::WrongMagic:
        return "not signed properly: no signature trailer";
    case TrailerFault::WrongAlgorithm:
        return "not signed properly: unknown algorithm";
    case TrailerFault::ReservedSet:
        return "not signed properly: flags or reserved bytes set";
    }
    std::string text = "signed by key " + KeyIdText(trailer.keyId) + ", counter " + std::to_string(trailer.counter);
    if (trusted == nullptr)
        return text;
    for (const TrustedKey& key : *trusted) {
        if (key.id == trailer.keyId)
            return text + (SignatureVerifies(frame, key.publicKey) ? ", verified" : ", NOT verified: bad signature");
    }
    return text + ", NOT verified: unknown key";
}

} // namespace kestrel
