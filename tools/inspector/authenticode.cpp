// Reading an Authenticode signature by hand: the PE headers for the certificate table, then the
// PKCS#7 SignedData it holds, walked as DER.
// References: https://learn.microsoft.com/windows/win32/debug/pe-format (the attribute
// certificate table) and the Authenticode PE format document (SpcIndirectDataContent).
#include "authenticode.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "cabinet_text.h"
#include "der_reader.h"
#include "digest.h"
#include "pe_layout.h"

namespace qarv::tools::inspector {
namespace {

constexpr std::uint32_t kSecurityDirectoryIndex = 4;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;
constexpr std::uint64_t kWinCertificateHeader = 8;

const char kOidSignedData[] = "1.2.840.113549.1.7.2";
const char kOidIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
const char kOidSha256[] = "2.16.840.1.101.3.4.2.1";
const char kOidMessageDigest[] = "1.2.840.113549.1.9.4";
const char kOidCountersignature[] = "1.2.840.113549.1.9.6";
const char kOidTimestampToken[] = "1.3.6.1.4.1.311.3.3.1";

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

bool SameBytes(ByteView a, ByteView b) {
    return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::string DigestName(const std::string& oid) {
    if (oid == kOidSha256) return "SHA-256";
    if (oid == "1.3.14.3.2.26") return "SHA-1";
    if (oid == "2.16.840.1.101.3.4.2.2") return "SHA-384";
    if (oid == "2.16.840.1.101.3.4.2.3") return "SHA-512";
    if (oid == "1.2.840.113549.2.5") return "MD5";
    return oid.empty() ? "an unreadable algorithm" : oid;
}

std::string AttributeName(const std::string& oid) {
    static const struct { const char* oid; const char* name; } kNames[] = {
        {"2.5.4.3", "CN"}, {"2.5.4.6", "C"}, {"2.5.4.7", "L"}, {"2.5.4.8", "ST"}, {"2.5.4.9", "street"},
        {"2.5.4.10", "O"}, {"2.5.4.11", "OU"}, {"2.5.4.5", "serialNumber"}, {"2.5.4.12", "title"},
        {"1.2.840.113549.1.9.1", "emailAddress"}, {"0.9.2342.19200300.100.1.25", "DC"},
        {"1.3.6.1.4.1.311.60.2.1.3", "jurisdictionC"}, {"2.5.4.15", "businessCategory"},
    };
    for (const auto& entry : kNames) {
        if (oid == entry.oid) return entry.name;
    }
    return oid;
}

void AppendUtf8(std::string& text, std::uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A name's attribute value as text for a terminal: control bytes shown as \xNN.
std::string ValueText(const DerElement& value) {
    std::string raw;
    if (value.tag == 0x1E) {  // BMPString: UTF-16, big-endian; surrogates are kept as they come
        for (std::size_t i = 0; i + 1 < value.value.size(); i += 2) {
            AppendUtf8(raw, (static_cast<std::uint32_t>(value.value.data()[i]) << 8) | value.value.data()[i + 1]);
        }
    } else if (value.tag == 0x0C || value.tag == 0x13 || value.tag == 0x16 || value.tag == 0x14) {
        raw.assign(reinterpret_cast<const char*>(value.value.data()), value.value.size());
    } else {
        return "#" + HexBytes(value.value.data(), value.value.size());
    }
    return PrintableText(raw);
}

// An X.501 Name as "CN=..., O=..., C=...": the most specific part first, as RFC 4514 writes it.
bool NameText(ByteView name, std::string& text) {
    std::vector<std::string> parts;
    DerReader names(name);
    while (!names.AtEnd()) {
        DerElement rdn;
        if (!names.Expect(der::kSet, rdn)) return false;
        std::string part;
        DerReader pairs(rdn.value);
        while (!pairs.AtEnd()) {
            DerElement pair, oid, value;
            if (!pairs.Expect(der::kSequence, pair)) return false;
            DerReader fields(pair.value);
            if (!fields.Expect(der::kOid, oid) || !fields.Next(value)) return false;
            part += (part.empty() ? "" : "+") + AttributeName(OidText(oid.value)) + "=" + ValueText(value);
        }
        parts.push_back(part);
    }
    text.clear();
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) text += (text.empty() ? "" : ", ") + *it;
    return true;
}

// Where the parts the digest leaves out lie.
struct Layout {
    std::uint64_t checksumField = 0;
    std::uint64_t directoryEntry = 0;
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
};

class Checker {
public:
    explicit Checker(ByteView file) : m_file(file) {}
    SignatureCheck Run();

private:
    SignatureCheck& Unreadable(const std::string& problem) {
        m_check.status = SignatureStatus::kUnreadable;
        m_check.problem = problem;
        return m_check;
    }
    bool ReadLayout(Layout& layout);
    std::string FileDigest(const Layout& layout);
    bool ReadSignedData(ByteView pkcs7);
    void FindSigner(ByteView certificates, ByteView issuer, ByteView serial);
    void ReadAttributes(ByteView authenticated, ByteView unauthenticated);

    ByteView m_file;
    SignatureCheck m_check;
    ByteView m_indirectContent;  // SpcIndirectDataContent's value, which the signed attributes digest
    ByteView m_attributeDigest;  // the messageDigest attribute's octets
};

bool Checker::ReadLayout(Layout& layout) {
    const PeHeaders headers = ReadPeHeaders(m_file);
    if (headers.status != PeHeaderStatus::kOk) {
        Unreadable("not a PE image");
        return false;
    }
    const PeLayout& pe = headers.layout;
    layout.checksumField = pe.checksumField;
    layout.directoryEntry = pe.DirectoryEntry(kSecurityDirectoryIndex);
    std::uint32_t directoryCount = 0;
    if (!pe.HasRoomForDirectory(kSecurityDirectoryIndex) || !m_file.Read32(pe.directoryCountField, directoryCount) ||
        directoryCount <= kSecurityDirectoryIndex) {
        return true;  // no directory entry for a certificate table: unsigned
    }
    if (!m_file.Read32(layout.directoryEntry, layout.tableOffset) || !m_file.Read32(layout.directoryEntry + 4, layout.tableSize)) {
        Unreadable("the file ends inside its headers");
        return false;
    }
    return true;
}

std::string Checker::FileDigest(const Layout& layout) {
    Digest hash(DigestAlgorithm::kSha256);
    auto feed = [&](std::uint64_t from, std::uint64_t to) {
        if (to > from) hash.Update(m_file.data() + from, static_cast<std::size_t>(to - from));
    };
    const std::uint64_t tableEnd = static_cast<std::uint64_t>(layout.tableOffset) + layout.tableSize;
    feed(0, layout.checksumField);
    feed(layout.checksumField + 4, layout.directoryEntry);
    feed(layout.directoryEntry + 8, layout.tableOffset);
    feed(tableEnd, m_file.size());
    return HexBytes(hash.Finish());
}

void Checker::FindSigner(ByteView certificates, ByteView issuer, ByteView serial) {
    DerReader list(certificates);
    while (!list.AtEnd()) {
        DerElement certificate, tbs, field, certificateSerial, certificateIssuer, subject;
        if (!list.Next(certificate)) return;
        if (certificate.tag != der::kSequence) continue;
        DerReader outer(certificate.value);
        if (!outer.Expect(der::kSequence, tbs)) continue;
        DerReader fields(tbs.value);
        fields.SkipIf(der::kContext0);  // version
        if (!fields.Expect(der::kInteger, certificateSerial) || !fields.Expect(der::kSequence, field) ||
            !fields.Expect(der::kSequence, certificateIssuer) || !fields.Expect(der::kSequence, field) ||
            !fields.Expect(der::kSequence, subject)) {
            continue;
        }
        if (!SameBytes(certificateSerial.whole, serial) || !SameBytes(certificateIssuer.whole, issuer)) continue;
        if (!NameText(subject.value, m_check.signer)) m_check.signer = "(a subject that cannot be read)";
        Digest hash(DigestAlgorithm::kSha256);
        hash.Update(certificate.whole.data(), certificate.whole.size());
        m_check.certificateSha256 = HexBytes(hash.Finish(), ':');
        return;
    }
}

void Checker::ReadAttributes(ByteView authenticated, ByteView unauthenticated) {
    DerReader signedAttributes(authenticated);
    while (!signedAttributes.AtEnd()) {
        DerElement attribute, oid, values, value;
        if (!signedAttributes.Expect(der::kSequence, attribute)) return;
        DerReader fields(attribute.value);
        if (!fields.Expect(der::kOid, oid) || !fields.Expect(der::kSet, values)) return;
        if (OidText(oid.value) == kOidMessageDigest && DerReader(values.value).Expect(der::kOctetString, value)) {
            m_attributeDigest = value.value;
        }
    }
    DerReader others(unauthenticated);
    while (!others.AtEnd()) {
        DerElement attribute, oid;
        if (!others.Expect(der::kSequence, attribute)) return;
        if (!DerReader(attribute.value).Expect(der::kOid, oid)) return;
        const std::string name = OidText(oid.value);
        if (name == kOidCountersignature || name == kOidTimestampToken) m_check.timestamped = true;
    }
}

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms, contentInfo
// { SpcIndirectDataContent }, [0] certificates, [1] crls, signerInfos } }
bool Checker::ReadSignedData(ByteView pkcs7) {
    DerElement contentInfo, type, explicitContent, signedData, element, encapsulated, content, indirect;
    DerReader top(pkcs7);
    if (!top.Expect(der::kSequence, contentInfo)) return false;
    DerReader info(contentInfo.value);
    if (!info.Expect(der::kOid, type) || OidText(type.value) != kOidSignedData) return false;
    if (!info.Expect(der::kContext0, explicitContent) || !DerReader(explicitContent.value).Expect(der::kSequence, signedData)) {
        return false;
    }
    DerReader fields(signedData.value);
    if (!fields.Expect(der::kInteger, element) || !fields.Expect(der::kSet, element) ||
        !fields.Expect(der::kSequence, encapsulated)) {
        return false;
    }
    DerReader encapsulation(encapsulated.value);
    if (!encapsulation.Expect(der::kOid, type) || OidText(type.value) != kOidIndirectData ||
        !encapsulation.Expect(der::kContext0, content) || !DerReader(content.value).Expect(der::kSequence, indirect)) {
        return false;
    }
    m_indirectContent = indirect.value;
    // SpcIndirectDataContent { data, messageDigest DigestInfo { algorithm, digest } }
    DerElement data, digestInfo, algorithm, algorithmOid, digest;
    DerReader indirectFields(indirect.value);
    if (!indirectFields.Expect(der::kSequence, data) || !indirectFields.Expect(der::kSequence, digestInfo)) return false;
    DerReader digestFields(digestInfo.value);
    if (!digestFields.Expect(der::kSequence, algorithm) || !DerReader(algorithm.value).Expect(der::kOid, algorithmOid) ||
        !digestFields.Expect(der::kOctetString, digest)) {
        return false;
    }
    m_check.digestAlgorithm = DigestName(OidText(algorithmOid.value));
    m_check.signedDigest = HexBytes(digest.value.data(), digest.value.size());

    ByteView certificates;
    if (fields.PeekTag() == der::kContext0) {
        if (!fields.Next(element)) return false;
        certificates = element.value;
    }
    fields.SkipIf(der::kContext1);  // crls
    DerElement signerInfos, signerInfo, issuerAndSerial, issuer, serial;
    if (!fields.Expect(der::kSet, signerInfos) || !DerReader(signerInfos.value).Expect(der::kSequence, signerInfo)) {
        return false;
    }
    // SignerInfo { version, issuerAndSerialNumber, digestAlgorithm, [0] authenticatedAttributes,
    // digestEncryptionAlgorithm, encryptedDigest, [1] unauthenticatedAttributes }
    DerReader signer(signerInfo.value);
    if (!signer.Expect(der::kInteger, element) || !signer.Expect(der::kSequence, issuerAndSerial)) return false;
    DerReader id(issuerAndSerial.value);
    if (!id.Expect(der::kSequence, issuer) || !id.Expect(der::kInteger, serial)) return false;
    if (!signer.Expect(der::kSequence, element)) return false;
    ByteView authenticated, unauthenticated;
    if (signer.PeekTag() == der::kContext0) {
        if (!signer.Next(element)) return false;
        authenticated = element.value;
    }
    if (!signer.Expect(der::kSequence, element) || !signer.Expect(der::kOctetString, element)) return false;
    if (signer.PeekTag() == der::kContext1) {
        if (!signer.Next(element)) return false;
        unauthenticated = element.value;
    }
    FindSigner(certificates, issuer.whole, serial.whole);
    ReadAttributes(authenticated, unauthenticated);
    return true;
}

SignatureCheck Checker::Run() {
    Layout layout;
    if (!ReadLayout(layout)) return m_check;
    if (layout.tableOffset == 0 && layout.tableSize == 0) return m_check;
    m_check.tableOffset = layout.tableOffset;
    m_check.tableSize = layout.tableSize;
    if (!m_file.Has(layout.tableOffset, layout.tableSize)) {
        return Unreadable("the certificate table (" + std::to_string(layout.tableSize) + " bytes at file offset " +
                          Hex(layout.tableOffset) + ") runs past the end of the file (" +
                          std::to_string(m_file.size()) + " bytes)");
    }
    if (layout.tableOffset < layout.directoryEntry + 8 || layout.tableSize < kWinCertificateHeader) {
        return Unreadable("the certificate table's directory entry (" + std::to_string(layout.tableSize) +
                          " bytes at file offset " + Hex(layout.tableOffset) + ") is damaged");
    }
    // WIN_CERTIFICATE { dwLength, wRevision, wCertificateType, bCertificate[] }; the first one is
    // the signature Windows checks.
    std::uint32_t length = 0;
    std::uint16_t revision = 0, type = 0;
    m_file.Read32(layout.tableOffset, length);
    m_file.Read16(layout.tableOffset + 4, revision);
    m_file.Read16(layout.tableOffset + 6, type);
    if (length < kWinCertificateHeader || length > layout.tableSize) {
        return Unreadable("damaged certificate table: its first entry claims " + std::to_string(length) + " bytes");
    }
    if (type != kCertificateTypePkcsSignedData) {
        return Unreadable("the certificate table holds a certificate of type " + Hex(type) + ", not a PKCS#7 signature");
    }
    if (!ReadSignedData(m_file.Slice(layout.tableOffset + kWinCertificateHeader, length - kWinCertificateHeader))) {
        return Unreadable("damaged signature: the certificate table holds no readable Authenticode PKCS#7 signature");
    }
    if (m_check.signer.empty()) m_check.signer = "(the signer's certificate is not in the signature)";
    if (m_check.digestAlgorithm != "SHA-256") {
        return Unreadable("signed with " + m_check.digestAlgorithm + "; only SHA-256 signatures are checked here");
    }
    m_check.fileDigest = FileDigest(layout);
    if (m_check.fileDigest != m_check.signedDigest) {
        m_check.status = SignatureStatus::kMismatch;
        m_check.problem = "the file changed after signing: its digest is " + m_check.fileDigest + ", the signed digest " +
                          m_check.signedDigest;
        return m_check;
    }
    if (m_attributeDigest.size() != 0) {
        Digest hash(DigestAlgorithm::kSha256);
        hash.Update(m_indirectContent.data(), m_indirectContent.size());
        const std::vector<std::uint8_t> digest = hash.Finish();
        if (!SameBytes(ByteView(digest.data(), digest.size()), m_attributeDigest)) {
            m_check.status = SignatureStatus::kMismatch;
            m_check.problem = "the signature's content changed after signing: the digest it carries is not the one signed";
            return m_check;
        }
    }
    m_check.status = SignatureStatus::kMatches;
    return m_check;
}

}  // namespace

SignatureCheck CheckAuthenticode(ByteView file) {
    return Checker(file).Run();
}

}  // namespace qarv::tools::inspector
