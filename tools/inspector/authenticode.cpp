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
const char kOidNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
const char kOidTstInfo[] = "1.2.840.113549.1.9.16.1.4";
const char kOidSigningTime[] = "1.2.840.113549.1.9.5";
constexpr std::uint8_t kUtcTime = 0x17;
constexpr std::uint8_t kGeneralizedTime = 0x18;

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

// A UTCTime or GeneralizedTime in UTC as "2026-12-10 12:05:46 UTC"; empty when it is not one.
std::string TimeText(const DerElement& time) {
    const std::size_t yearDigits = time.tag == kUtcTime ? 2 : time.tag == kGeneralizedTime ? 4 : 0;
    const std::string text(reinterpret_cast<const char*>(time.value.data()), time.value.size());
    if (yearDigits == 0 || text.size() < yearDigits + 11 || text.back() != 'Z') return "";
    for (std::size_t i = 0; i < yearDigits + 10; ++i) {
        if (text[i] < '0' || text[i] > '9') return "";
    }
    // Only GeneralizedTime carries fractions of a second: "...SS.fffZ".
    const char after = text[yearDigits + 10];
    if (!(after == 'Z' && text.size() == yearDigits + 11) && !(after == '.' && time.tag == kGeneralizedTime)) return "";
    std::string year = text.substr(0, yearDigits);
    if (yearDigits == 2) year = (year < "50" ? "20" : "19") + year;  // RFC 5280's reading of two digits
    const std::string rest = text.substr(yearDigits, 10);
    return year + "-" + rest.substr(0, 2) + "-" + rest.substr(2, 2) + " " + rest.substr(4, 2) + ":" + rest.substr(6, 2) +
           ":" + rest.substr(8, 2) + " UTC";
}

// The parts of a PKCS#7 SignedData read here: its content and its first signer.
struct SignedParts {
    ByteView content;       // the encapsulated content, inside its [0]
    ByteView certificates;  // the [0] certificates' value
    ByteView issuer;        // the first signer's issuerAndSerialNumber, both whole elements
    ByteView serial;
    ByteView authenticated;    // [0] authenticatedAttributes' value
    ByteView unauthenticated;  // [1] unauthenticatedAttributes' value
};

// SignerInfo { version, issuerAndSerialNumber, digestAlgorithm, [0] authenticatedAttributes,
// digestEncryptionAlgorithm, encryptedDigest, [1] unauthenticatedAttributes }
bool ReadSignerInfo(ByteView signerInfo, SignedParts& parts) {
    DerElement element, issuerAndSerial, issuer, serial;
    DerReader signer(signerInfo);
    if (!signer.Expect(der::kInteger, element) || !signer.Expect(der::kSequence, issuerAndSerial)) return false;
    DerReader id(issuerAndSerial.value);
    if (!id.Expect(der::kSequence, issuer) || !id.Expect(der::kInteger, serial)) return false;
    parts.issuer = issuer.whole;
    parts.serial = serial.whole;
    if (!signer.Expect(der::kSequence, element)) return false;
    if (signer.PeekTag() == der::kContext0) {
        if (!signer.Next(element)) return false;
        parts.authenticated = element.value;
    }
    if (!signer.Expect(der::kSequence, element) || !signer.Expect(der::kOctetString, element)) return false;
    if (signer.PeekTag() == der::kContext1) {
        if (!signer.Next(element)) return false;
        parts.unauthenticated = element.value;
    }
    return true;
}

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms, contentInfo { type, [0]
// content }, [0] certificates, [1] crls, signerInfos } }, its content of type `contentType`.
bool ReadSignedParts(ByteView bytes, const char* contentType, SignedParts& parts) {
    DerElement contentInfo, type, explicitContent, signedData, element, encapsulated, content;
    DerReader top(bytes);
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
    if (!encapsulation.Expect(der::kOid, type) || OidText(type.value) != contentType ||
        !encapsulation.Expect(der::kContext0, content)) {
        return false;
    }
    parts.content = content.value;
    if (fields.PeekTag() == der::kContext0) {
        if (!fields.Next(element)) return false;
        parts.certificates = element.value;
    }
    fields.SkipIf(der::kContext1);  // crls
    DerElement signerInfos, signerInfo;
    return fields.Expect(der::kSet, signerInfos) && DerReader(signerInfos.value).Expect(der::kSequence, signerInfo) &&
           ReadSignerInfo(signerInfo.value, parts);
}

// The subject and SHA-256 fingerprint of the certificate in `certificates` with this issuer and
// serial number; false when there is none.
bool FindCertificate(ByteView certificates, ByteView issuer, ByteView serial, std::string& subjectText,
                     std::string& fingerprint) {
    DerReader list(certificates);
    while (!list.AtEnd()) {
        DerElement certificate, tbs, field, certificateSerial, certificateIssuer, subject;
        if (!list.Next(certificate)) return false;
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
        if (!NameText(subject.value, subjectText)) subjectText = "(a subject that cannot be read)";
        Digest hash(DigestAlgorithm::kSha256);
        hash.Update(certificate.whole.data(), certificate.whole.size());
        fingerprint = HexBytes(hash.Finish(), ':');
        return true;
    }
    return false;
}

// The first value of the attribute `oid` in `attributes`; false when there is none.
bool FindAttribute(ByteView attributes, const char* oid, DerElement& value) {
    DerReader list(attributes);
    while (!list.AtEnd()) {
        DerElement attribute, type, values;
        if (!list.Expect(der::kSequence, attribute)) return false;
        DerReader fields(attribute.value);
        if (!fields.Expect(der::kOid, type) || !fields.Expect(der::kSet, values)) return false;
        if (OidText(type.value) == oid) return DerReader(values.value).Next(value);
    }
    return false;
}

// An RFC 3161 timestamp token: a SignedData over TSTInfo { version, policy, messageImprint,
// serialNumber, genTime, ... }, signed by the authority.
void ReadTimestampToken(ByteView token, SignerDetails& details) {
    details.timestampKind = "RFC 3161";
    SignedParts parts;
    DerElement octets, info, field, time;
    if (!ReadSignedParts(token, kOidTstInfo, parts) || !DerReader(parts.content).Expect(der::kOctetString, octets) ||
        !DerReader(octets.value).Expect(der::kSequence, info)) {
        return;
    }
    DerReader fields(info.value);
    if (fields.Expect(der::kInteger, field) && fields.Expect(der::kOid, field) && fields.Expect(der::kSequence, field) &&
        fields.Expect(der::kInteger, field) && fields.Next(time)) {
        details.timestampTime = TimeText(time);
    }
    std::string fingerprint;
    FindCertificate(parts.certificates, parts.issuer, parts.serial, details.timestampAuthority, fingerprint);
}

// An Authenticode countersignature: a SignerInfo whose signingTime is the timestamp's, signed by
// a certificate among the signature's own.
void ReadCountersignature(ByteView signerInfo, ByteView certificates, SignerDetails& details) {
    details.timestampKind = "countersignature";
    SignedParts parts;
    DerElement time;
    if (!ReadSignerInfo(signerInfo, parts)) return;
    if (FindAttribute(parts.authenticated, kOidSigningTime, time)) details.timestampTime = TimeText(time);
    std::string fingerprint;
    FindCertificate(certificates, parts.issuer, parts.serial, details.timestampAuthority, fingerprint);
}

// The digest algorithm of an SpcIndirectDataContent { data, messageDigest DigestInfo { algorithm,
// digest } } and the digest; false when it cannot be read.
bool ReadIndirectData(ByteView content, std::string& algorithmName, ByteView& digestBytes) {
    DerElement data, digestInfo, algorithm, algorithmOid, digest;
    DerReader indirectFields(content);
    if (!indirectFields.Expect(der::kSequence, data) || !indirectFields.Expect(der::kSequence, digestInfo)) return false;
    DerReader digestFields(digestInfo.value);
    if (!digestFields.Expect(der::kSequence, algorithm) || !DerReader(algorithm.value).Expect(der::kOid, algorithmOid) ||
        !digestFields.Expect(der::kOctetString, digest)) {
        return false;
    }
    algorithmName = DigestName(OidText(algorithmOid.value));
    digestBytes = digest.value;
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
    void ReadTimestampsAndNested(const SignedParts& parts, SignerDetails& details, bool primary);

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

// The unauthenticated attributes: a timestamp of either kind, and (on the primary signature only,
// where Windows looks for them) nested signatures.
void Checker::ReadTimestampsAndNested(const SignedParts& parts, SignerDetails& details, bool primary) {
    DerReader others(parts.unauthenticated);
    while (!others.AtEnd()) {
        DerElement attribute, oid, values, value;
        if (!others.Expect(der::kSequence, attribute)) return;
        DerReader fields(attribute.value);
        if (!fields.Expect(der::kOid, oid) || !fields.Expect(der::kSet, values)) return;
        const std::string name = OidText(oid.value);
        if (name == kOidTimestampToken || name == kOidCountersignature) {
            details.timestamped = true;
            if (!DerReader(values.value).Next(value)) continue;
            if (name == kOidTimestampToken) {
                ReadTimestampToken(value.whole, details);
            } else {
                ReadCountersignature(value.value, parts.certificates, details);
            }
        } else if (name == kOidNestedSignature && primary) {
            DerReader list(values.value);
            while (list.Next(value)) {
                SignedParts nestedParts;
                SignerDetails nested;
                ByteView digest;
                if (!ReadSignedParts(value.whole, kOidIndirectData, nestedParts)) {
                    nested.digestAlgorithm = "an unreadable signature";
                } else {
                    DerElement indirect;
                    if (!DerReader(nestedParts.content).Expect(der::kSequence, indirect) ||
                        !ReadIndirectData(indirect.value, nested.digestAlgorithm, digest)) {
                        nested.digestAlgorithm = "an unreadable algorithm";
                    } else {
                        nested.signedDigest = HexBytes(digest.data(), digest.size());
                    }
                    if (!FindCertificate(nestedParts.certificates, nestedParts.issuer, nestedParts.serial, nested.signer,
                                         nested.certificateSha256)) {
                        nested.signer = "(the signer's certificate is not in the signature)";
                    }
                    ReadTimestampsAndNested(nestedParts, nested, false);
                }
                m_check.nested.push_back(nested);
            }
        }
    }
}

bool Checker::ReadSignedData(ByteView pkcs7) {
    SignedParts parts;
    DerElement indirect;
    if (!ReadSignedParts(pkcs7, kOidIndirectData, parts) || !DerReader(parts.content).Expect(der::kSequence, indirect)) {
        return false;
    }
    m_indirectContent = indirect.value;
    ByteView digest;
    if (!ReadIndirectData(indirect.value, m_check.digestAlgorithm, digest)) return false;
    m_check.signedDigest = HexBytes(digest.data(), digest.size());
    FindCertificate(parts.certificates, parts.issuer, parts.serial, m_check.signer, m_check.certificateSha256);
    DerElement attributeDigest;
    if (FindAttribute(parts.authenticated, kOidMessageDigest, attributeDigest) && attributeDigest.tag == der::kOctetString) {
        m_attributeDigest = attributeDigest.value;
    }
    ReadTimestampsAndNested(parts, m_check, true);
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
    std::string signedDigest = m_check.signedDigest;
    if (m_check.digestAlgorithm != "SHA-256") {
        // A SHA-1 signature for older Windows with a SHA-256 one nested in it: the nested one's
        // digest is checked (its signed attributes are left to osslsigncode).
        for (std::size_t i = 0; i < m_check.nested.size() && m_check.nestedChecked == 0; ++i) {
            if (m_check.nested[i].digestAlgorithm == "SHA-256") m_check.nestedChecked = i + 1;
        }
        if (m_check.nestedChecked == 0) {
            return Unreadable("signed with " + m_check.digestAlgorithm + "; only SHA-256 signatures are checked here");
        }
        signedDigest = m_check.nested[m_check.nestedChecked - 1].signedDigest;
        m_attributeDigest = ByteView();
    }
    m_check.fileDigest = FileDigest(layout);
    if (m_check.fileDigest != signedDigest) {
        m_check.status = SignatureStatus::kMismatch;
        m_check.problem = "the file changed after signing: its digest is " + m_check.fileDigest + ", the signed digest " +
                          signedDigest;
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
