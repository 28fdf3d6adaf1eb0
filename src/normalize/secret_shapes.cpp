#include "normalize/secret_shapes.h"

#include <array>
#include <cctype>
#include <string>

namespace orvane::SecretShapes {

namespace {

// A value that names where a secret comes from, or stands for one in documentation, is no
// secret: environment references, templates, placeholders, masks, literals, type names and
// code that computes the value. Also the marker an earlier pattern left.
constexpr std::string_view reference =
    R"((?!\[REDACTED\]|\$[{(A-Za-z_]|%[A-Za-z_]\w*+%|os\.environ|os\.getenv|process\.env|import\.meta\.env|ENV\[|env\(|)"
    R"(<|\*{3}|\{\{|your[-_ ]|x{4}|\.{3}|changeme|example|placeholder|dummy|redacted|)"
    R"((?:true|false|null|nil|none|undefined|string|str|bytes|number|boolean|required|optional)(?![\w-])|)"
    R"([A-Za-z_]\w*+(?:\.\w++)*+[(\[]|[A-Za-z_]\w*+(?:\.[A-Za-z_]\w*+)++(?![\w-])))";

// Names whose value is a credential: the name may carry any prefix (DB_PASSWORD, githubToken)
// but must end in the keyword. Paging cursors are not credentials. The keys are told apart
// after their common ending, so the search starts at few letters.
constexpr std::string_view keyword =
    R"((?:pass(?:word|wd|phrase)|secret|token(?<!pagetoken|nexttoken|page_token|next_token|page-token)|)"
    R"(key(?<=apikey|api_key|api-key|accesskey|access_key|access-key|privatekey|private_key|private-key|)"
    R"(secretkey|secret_key|secret-key|signingkey|signing_key|signing-key|authkey|auth_key|auth-key|)"
    R"(accountkey|account_key|account-key)))";

// A quoted value runs to its closing quote; a bare one to white space or a separator.
std::string value()
{
    const std::string ref(reference);
    return "(?:\"" + ref + R"(\K[^"\r\n]{6,}+(?=")|')" + ref + R"(\K[^'\r\n]{6,}+(?=')|)" + ref
        + R"(\K[^\s"',;]{6,}+))";
}

// Vendor tokens with a recognisable prefix, and signed JSON web tokens. Case matters in the
// prefixes; a token starts where no token or base64 character precedes it.
constexpr std::string_view prefixedTokens =
    R"((?<![A-Za-z0-9_+/-])(?-i:)"
    R"(gh[pousr]_[A-Za-z0-9]{30,}+)"
    R"(|(?:glpat|gldt|glptt|glrt|gloas|glcbt|glimt|glft|glsoat|glagent|glffct)-[A-Za-z0-9_-]{20,}+)"
    R"(|GR1348941[A-Za-z0-9_-]{20,}+)"
    R"(|(?:ATBB|ATATT|ATCTT)[A-Za-z0-9_=.-]{24,}+)"
    R"(|(?:A3T[A-Z0-9]|ASIA|ABIA|ACCA|AGPA|AIDA|AIPA|ANPA|ANVA|AROA|APKA|ASCA)[A-Z0-9]{16}(?![A-Za-z0-9]))"
    R"(|AIza[0-9A-Za-z_-]{35})"
    R"(|GOCSPX-[A-Za-z0-9_-]{20,}+)"
    R"(|ya29\.[A-Za-z0-9_-]{20,}+)"
    R"(|1//0[A-Za-z0-9_-]{30,}+)"
    R"(|[A-Za-z0-9_~.-]{3}[0-9]Q~[A-Za-z0-9_~.-]{31,34}+)"
    R"(|LTAI[A-Za-z0-9]{12,20}+)"
    R"(|do[pro]_v1_[a-f0-9]{64})"
    R"(|hv[sbr]\.[A-Za-z0-9_-]{24,}+)"
    R"(|[A-Za-z0-9]{14}\.atlasv1\.[A-Za-z0-9_=-]{60,}+)"
    R"(|HRKU-[A-Za-z0-9_-]{20,}+)"
    R"(|dapi[a-f0-9]{32}(?:-[0-9])?)"
    R"(|xapp-[0-9]-[A-Za-z0-9-]{20,}+)"
    R"(|xoxe(?:\.xox[bp])?-[A-Za-z0-9-]{20,}+)"
    R"(|whsec_[A-Za-z0-9+/=]{24,}+)"
    R"(|SG\.[A-Za-z0-9_-]{16,}+\.[A-Za-z0-9_-]{16,}+)"
    R"(|shp(?:at|ca|pa|ss)_[a-fA-F0-9]{32})"
    R"(|EAAA[A-Za-z0-9_-]{60,}+)"
    R"(|sq0(?:atp|csp)-[A-Za-z0-9_-]{22,}+)"
    R"(|hf_[A-Za-z0-9]{30,}+)"
    R"(|api_org_[A-Za-z0-9]{30,}+)"
    R"(|npm_[A-Za-z0-9]{36,}+)"
    R"(|pypi-AgE[A-Za-z0-9_-]{50,}+)"
    R"(|rubygems_[a-f0-9]{48})"
    R"(|dckr_(?:pat|oat)_[A-Za-z0-9_-]{20,}+)"
    R"(|gsk_[A-Za-z0-9]{48,}+)"
    R"(|AGE-SECRET-KEY-1[0-9A-Z]{58})"
    R"(|[MNO][A-Za-z0-9_-]{23,27}\.[A-Za-z0-9_-]{6}\.[A-Za-z0-9_-]{27,40}+)"
    R"(|[0-9]{8,10}:AA[A-Za-z0-9_-]{33})"
    R"(|eyJ[A-Za-z0-9_-]{8,}+\.eyJ[A-Za-z0-9_-]{8,}+\.[A-Za-z0-9_-]{16,}+))";

// Webhook URLs are secrets whole; other URLs lose only their user:password and signatures.
// Each branch starts at a lower-case h, a colon or an equals sign, so most text is skipped.
constexpr std::string_view urls =
    R"((?-i:https?)://(?:hooks\.slack\.com/(?:services|workflows|triggers)/[A-Za-z0-9/_-]{8,}+)"
    R"(|(?:[a-z]{1,10}\.)?discord(?:app)?\.com/api/webhooks/[0-9]{1,30}/[A-Za-z0-9_-]{20,}+)"
    R"(|[A-Za-z0-9-]{1,63}\.webhook\.office\.com/[^\s"'<>]{8,}+)"
    R"(|api\.telegram\.org/bot[0-9]{1,20}:[A-Za-z0-9_-]{20,}+[^\s"'<>]*+))"
    R"(|://\K[^\s:@/?#"'<>]{1,256}+:(?!\$[{A-Za-z_]|\*{3}@|<|\[REDACTED\])[^\s@/?#"'<>]{1,256}+(?=@))"
    R"(|=(?<=[?&;,\s]sig=|[?&;,\s]signature=|[?&;,\s]x-amz-signature=|[?&;,\s]x-goog-signature=))"
    R"(\K[^&\s"'#<>]{8,}+)";

// PEM and PGP private keys cut off before their END line: the header and the armour after
// it. Each step consumes text, so a million headers cost a million steps.
constexpr std::string_view cutOffKeys =
    R"(-----BEGIN[A-Z ]{0,30}PRIVATE KEY(?: BLOCK)?-----)"
    R"((?:[A-Za-z][A-Za-z0-9-]{0,40}+:[^\r\n]{0,200}+|[A-Za-z0-9+/=]++|\s++)*+)"
    R"((?:-----END[A-Z ]{0,30}PRIVATE KEY(?: BLOCK)?-----)?)";

bool isTokenCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || std::string_view("_.+/=~:-").find(c) != std::string_view::npos;
}

std::array<std::string, 5> build()
{
    const std::string kw(keyword);
    const std::string val = value();
    const std::string ref(reference);
    // Keyed assignments in env, shell, YAML, JSON, TOML and INI syntax, and Authorization
    // headers of any scheme; the name stays readable.
    const std::string assignments = kw + R"(["']?\]?\s*+[:=]\s*+)" + val
        + R"(|authorization["']?\s*+[:=]\s*+["']?\K(?:[A-Za-z][A-Za-z0-9-]{1,30}+\s++)?+)" + ref
        + R"([^\s"']{6,}+)";
    const std::string flags = R"(-(?<![A-Za-z0-9]-)-?(?:[A-Za-z0-9]{1,30}[-_]){0,6})"
        R"((?:pass(?:word|wd|phrase)|secret|token|api[-_]?key|access[-_]?key|private[-_]?key)(?:=|\s++)(?!-))" + val;
    return {std::string(prefixedTokens), std::string(urls), assignments, flags, std::string(cutOffKeys)};
}

} // namespace

std::span<const Shape> shapes()
{
    static const std::array<std::string, 5> built = build();
    static const std::array<Shape, 5> all{
        Shape{built[0], true}, Shape{built[1]}, Shape{built[2]}, Shape{built[3]}, Shape{built[4]},
    };
    return all;
}

std::string longTokenRuns(std::string_view text)
{
    std::string runs;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && !isTokenCharacter(text[at]))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && isTokenCharacter(text[at]))
            ++at;
        if (at - start >= shortestToken) {
            runs.append(text.substr(start, at - start));
            runs += '\n';
        }
    }
    return runs;
}

} // namespace orvane::SecretShapes
