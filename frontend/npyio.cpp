#include "npyio.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "atomicfile.h"

namespace frontend {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr std::size_t kMagicSize = 6;
// NumPy writes headers of a few hundred bytes; anything far longer is not an
// array header.
constexpr uint32_t kMaxHeaderLength = 1u << 16;

bool hostIsLittleEndian() {
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// ---- The header: a Python dict literal ------------------------------------------

struct Header {
    std::string descr;
    bool fortran = false;
    std::vector<long long> shape;
    bool hasDescr = false, hasOrder = false, hasShape = false;
};

// A strict parser of the one dict form NumPy writes:
//   {'descr': '<u2', 'fortran_order': False, 'shape': (3, 4), }
class HeaderParser {
public:
    explicit HeaderParser(const std::string &text) : s_(text) {}

    // Empty on success, else what is wrong.
    std::string parse(Header &h) {
        skipSpace();
        if (!take('{')) return "its header is not a dictionary";
        for (;;) {
            skipSpace();
            if (take('}')) break;
            std::string key;
            if (!readString(key)) return "its header has a malformed key";
            skipSpace();
            if (!take(':')) return "its header is malformed";
            skipSpace();
            bool *seen = key == "descr"           ? &h.hasDescr
                         : key == "fortran_order" ? &h.hasOrder
                         : key == "shape"         ? &h.hasShape
                                                  : nullptr;
            if (!seen) return "its header has an unknown key '" + key + "'";
            // NumPy would keep the last of two; which one was meant is unknown.
            if (*seen) return "its header has the key '" + key + "' twice";
            *seen = true;
            if (key == "descr") {
                if (peek() == '[')
                    return "its data type is a structured type, which is not supported";
                if (!readString(h.descr)) return "its data type is not a simple type name";
            } else if (key == "fortran_order") {
                if (s_.compare(pos_, 4, "True") == 0) {
                    h.fortran = true;
                    pos_ += 4;
                } else if (s_.compare(pos_, 5, "False") == 0) {
                    h.fortran = false;
                    pos_ += 5;
                } else {
                    return "its header has a malformed fortran_order";
                }
            } else if (!readShape(h.shape)) {
                return "its header has a malformed shape";
            }
            skipSpace();
            if (take(',')) continue;
            skipSpace();
            if (take('}')) break;
            return "its header is malformed";
        }
        skipSpace();
        if (pos_ != s_.size()) return "its header has text after the dictionary";
        for (const auto &[seen, key] :
             {std::pair{h.hasDescr, "descr"}, std::pair{h.hasOrder, "fortran_order"},
              std::pair{h.hasShape, "shape"}})
            if (!seen) return std::string("its header lacks the key '") + key + "'";
        return std::string();
    }

private:
    char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    bool take(char c) {
        if (peek() != c) return false;
        ++pos_;
        return true;
    }
    void skipSpace() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool readString(std::string &out) {
        const char quote = peek();
        if (quote != '\'' && quote != '"') return false;
        const std::size_t end = s_.find(quote, pos_ + 1);
        if (end == std::string::npos || end - pos_ > 64) return false;
        out = s_.substr(pos_ + 1, end - pos_ - 1);
        if (out.find('\\') != std::string::npos) return false;
        pos_ = end + 1;
        return true;
    }
    bool readShape(std::vector<long long> &shape) {
        if (!take('(')) return false;
        for (;;) {
            skipSpace();
            if (take(')')) return true;
            if (!std::isdigit(static_cast<unsigned char>(peek()))) return false;
            long long v = 0;
            while (std::isdigit(static_cast<unsigned char>(peek()))) {
                v = v * 10 + (s_[pos_++] - '0');
                if (v > INT_MAX) return false;
            }
            // A trailing L is how Python 2 wrote long integers.
            take('L');
            shape.push_back(v);
            if (shape.size() > 8) return false;
            skipSpace();
            if (take(',')) continue;
            skipSpace();
            if (take(')')) return true;
            return false;
        }
    }

    const std::string &s_;
    std::size_t pos_ = 0;
};

// ---- Data types ------------------------------------------------------------------

// How the file's elements become a record's.
enum class Widen { None, Bool, U32, I64, U64 };

struct DataType {
    const char *own = nullptr;  // own type for a direct copy
    int itemSize = 0;
    int swapUnit = 0;  // bytes swapped together (half an element for complex)
    bool bigEndian = false;
    Widen widen = Widen::None;
};

// Empty on success, else why the type is refused.
std::string decodeType(const std::string &descr, DataType &t) {
    if (descr.size() < 3) return "its data type '" + descr + "' is not supported";
    const char order = descr[0];
    if (order != '<' && order != '>' && order != '|' && order != '=')
        return "its data type '" + descr + "' is not supported";
    t.bigEndian = order == '>' || (order == '=' && !hostIsLittleEndian());
    const std::string code = descr.substr(1);
    struct Entry {
        const char *code;
        const char *own;
        int size;
        Widen widen;
    };
    static const Entry table[] = {
        {"b1", "u8bit", 1, Widen::Bool}, {"u1", "u8bit", 1, Widen::None},
        {"i1", "8bit", 1, Widen::None},  {"u2", "u16bit", 2, Widen::None},
        {"i2", "16bit", 2, Widen::None}, {"i4", "32bit", 4, Widen::None},
        {"f4", "float", 4, Widen::None}, {"f8", "64flt", 8, Widen::None},
        {"c8", "32cmp", 8, Widen::None}, {"c16", "64cmp", 16, Widen::None},
        {"u4", nullptr, 4, Widen::U32},  {"i8", nullptr, 8, Widen::I64},
        {"u8", nullptr, 8, Widen::U64},
    };
    for (const Entry &e : table) {
        if (code != e.code) continue;
        t.own = e.own;
        t.itemSize = e.size;
        t.widen = e.widen;
        t.swapUnit = code[0] == 'c' ? e.size / 2 : e.size;
        return std::string();
    }
    return "its data type '" + descr + "' has no matching image data type";
}

void swapBytes(unsigned char *data, std::size_t bytes, int unit) {
    if (unit <= 1) return;
    for (std::size_t i = 0; i + unit <= bytes; i += unit) std::reverse(data + i, data + i + unit);
}

// Fortran order (first axis fastest) to the record's order (last axis
// fastest), for the 2 or 3 axes of `shape`.
void fromFortranOrder(const unsigned char *in, unsigned char *out,
                      const std::vector<long long> &shape, int itemSize) {
    const long long f = shape.size() == 3 ? shape[0] : 1;
    const long long r = shape[shape.size() - 2], c = shape[shape.size() - 1];
    for (long long k = 0; k < f; ++k)
        for (long long y = 0; y < r; ++y)
            for (long long x = 0; x < c; ++x)
                std::memcpy(out + ((k * r + y) * c + x) * itemSize,
                            in + (k + f * (y + r * x)) * itemSize, itemSize);
}

template <class T>
T loadAs(const unsigned char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Integers of uint32, int64 or uint64 files into "32bit" or "64flt": the
// narrowest of the two that holds every value. `raw` is in this machine's
// byte order and the record's element order.
tamo::RecordPtr widenIntegers(const std::vector<unsigned char> &raw, Widen widen, int itemSize,
                              int *dims, std::string &reason) {
    const long long n = static_cast<long long>(raw.size()) / itemSize;
    constexpr long long kExact = 1ll << 53;
    bool fits32 = true, fitsDouble = true;
    auto value = [&](long long i, long long &sv, unsigned long long &uv, bool &isSigned) {
        const unsigned char *p = raw.data() + i * itemSize;
        isSigned = widen == Widen::I64;
        if (widen == Widen::U32) uv = loadAs<uint32_t>(p);
        if (widen == Widen::U64) uv = loadAs<uint64_t>(p);
        if (widen == Widen::I64) sv = loadAs<int64_t>(p);
    };
    for (long long i = 0; i < n && fitsDouble; ++i) {
        long long sv = 0;
        unsigned long long uv = 0;
        bool isSigned;
        value(i, sv, uv, isSigned);
        if (isSigned) {
            fits32 = fits32 && sv >= INT32_MIN && sv <= INT32_MAX;
            fitsDouble = sv >= -kExact && sv <= kExact;
        } else {
            fits32 = fits32 && uv <= static_cast<unsigned long long>(INT32_MAX);
            fitsDouble = uv <= static_cast<unsigned long long>(kExact);
        }
    }
    if (!fitsDouble) {
        reason = "its 64-bit integer values do not fit any image data type";
        return nullptr;
    }
    tamo::RecordPtr img(Tamocreate(fits32 ? "32bit" : "64flt", dims, TAMO_CREATE_ZEROED, 0));
    if (!img) {
        reason = "there is not enough memory";
        return nullptr;
    }
    for (long long i = 0; i < n; ++i) {
        long long sv = 0;
        unsigned long long uv = 0;
        bool isSigned;
        value(i, sv, uv, isSigned);
        if (fits32)
            tamo::pixels<int32_t>(img.get())[i] =
                static_cast<int32_t>(isSigned ? sv : static_cast<long long>(uv));
        else
            tamo::pixels<double>(img.get())[i] =
                isSigned ? static_cast<double>(sv) : static_cast<double>(uv);
    }
    return img;
}

bool readExactly(FILE *fp, void *data, std::size_t n) {
    return n == 0 || std::fread(data, 1, n, fp) == n;
}

struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};

// Writes all of `bytes` to a descriptor; false with errno set otherwise.
bool writeAll(int fd, const void *bytes, std::size_t n) {
    const char *p = static_cast<const char *>(bytes);
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

const char *descrOf(int32_t dtype) {
    switch (dtype) {
        case TAMO_U8BIT:
            return "u1";
        case TAMO_8BIT:
            return "i1";
        case TAMO_U16BIT:
            return "u2";
        case TAMO_16BIT:
            return "i2";
        case TAMO_32BIT:
            return "i4";
        case TAMO_32FLT:
            return "f4";
        case TAMO_64FLT:
            return "f8";
        case TAMO_32CMP:
            return "c8";
        case TAMO_64CMP:
            return "c16";
        default:
            return nullptr;
    }
}

}  // namespace

bool isNpyName(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string suffix = path.substr(dot + 1);
    for (char &c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == "npy";
}

tamo::RecordPtr readNpy(FILE *fp, std::string &reason) {
    auto fail = [&](const std::string &why) {
        reason = why;
        return nullptr;
    };
    if (!fp || std::fseek(fp, 0, SEEK_END) != 0) return fail("it cannot be read");
    const long fileSize = std::ftell(fp);
    if (fileSize < 0 || std::fseek(fp, 0, SEEK_SET) != 0) return fail("it cannot be read");

    unsigned char start[kMagicSize + 2];
    if (!readExactly(fp, start, kMagicSize) || std::memcmp(start, kMagic, kMagicSize) != 0)
        return fail("it is not a NumPy array file");
    if (!readExactly(fp, start + kMagicSize, 2)) return fail("its header is cut short");
    const int major = start[kMagicSize];
    if (major < 1 || major > 3)
        return fail("its format version " + std::to_string(major) + " is not supported");
    uint32_t headerLength = 0;
    unsigned char len[4] = {0, 0, 0, 0};
    const int lenBytes = major == 1 ? 2 : 4;
    if (!readExactly(fp, len, lenBytes)) return fail("its header is cut short");
    headerLength = len[0] | len[1] << 8 | uint32_t(len[2]) << 16 | uint32_t(len[3]) << 24;
    const long dataStart = long(kMagicSize) + 2 + lenBytes + long(headerLength);
    if (headerLength == 0 || headerLength > kMaxHeaderLength || dataStart > fileSize)
        return fail("its header length is invalid");
    std::string text(headerLength, '\0');
    if (!readExactly(fp, text.data(), headerLength)) return fail("its header is cut short");

    Header header;
    if (std::string why = HeaderParser(text).parse(header); !why.empty()) return fail(why);
    DataType type;
    if (std::string why = decodeType(header.descr, type); !why.empty()) return fail(why);
    const std::size_t ndim = header.shape.size();
    if (ndim != 2 && ndim != 3)
        return fail("it holds a " + std::to_string(ndim) +
                    "-dimensional array; 2 or 3 dimensions are needed");
    long long count = 1;
    for (long long d : header.shape) {
        if (d == 0) return fail("its array is empty");
        // Three sides up to INT_MAX may pass what 64 bits count.
        if (count >= 0 && __builtin_mul_overflow(count, d, &count)) count = -1;
    }
    // The record takes the file's element size, or 8 bytes for integers that
    // may widen to "64flt"; nothing is allocated before the limit allows it.
    const int ownSize = type.own ? type.itemSize : 8;
    long long recordBytes = -1;
    if (count >= 0 && __builtin_mul_overflow(count, ownSize, &recordBytes)) recordBytes = -1;
    if (Tamochkread(recordBytes) != 0) return fail(Tamolimittext());
    const long long dataBytes = count * type.itemSize;
    if (dataBytes > fileSize - dataStart) return fail("its data are cut short");

    int dims[4] = {static_cast<int>(ndim), static_cast<int>(header.shape[ndim - 1]),
                   static_cast<int>(header.shape[ndim - 2]),
                   ndim == 3 ? static_cast<int>(header.shape[0]) : 1};
    // The data in the record's order and this machine's byte order.
    std::vector<unsigned char> raw;
    tamo::RecordPtr img;
    unsigned char *target;
    if (type.own) {
        img.reset(Tamocreate(type.own, dims, TAMO_CREATE_ZEROED, 0));
        if (!img) return fail("there is not enough memory");
        target = reinterpret_cast<unsigned char *>(img->orvptr);
    } else {
        raw.resize(static_cast<std::size_t>(dataBytes));
        target = raw.data();
    }
    if (header.fortran) {
        std::vector<unsigned char> fortran(static_cast<std::size_t>(dataBytes));
        if (!readExactly(fp, fortran.data(), fortran.size())) return fail("its data are cut short");
        fromFortranOrder(fortran.data(), target, header.shape, type.itemSize);
    } else if (!readExactly(fp, target, static_cast<std::size_t>(dataBytes))) {
        return fail("its data are cut short");
    }
    if (type.bigEndian == hostIsLittleEndian())
        swapBytes(target, static_cast<std::size_t>(dataBytes), type.swapUnit);

    if (type.widen == Widen::Bool) {
        // NumPy's booleans are single bytes 0 and 1; any other byte is true.
        for (long long i = 0; i < count; ++i) target[i] = target[i] != 0;
    } else if (!type.own) {
        img = widenIntegers(raw, type.widen, type.itemSize, dims, reason);
    }
    if (img) img->orvcomp = 0;
    return img;
}

tamo::RecordPtr readNpy(const std::string &path, std::string &reason) {
    errno = 0;
    std::unique_ptr<FILE, FileCloser> fp(std::fopen(path.c_str(), "rb"));
    if (!fp) {
        reason = std::strerror(errno);
        return nullptr;
    }
    return readNpy(fp.get(), reason);
}

std::string writeNpy(const TAMOHDR *img, const std::string &path) {
    if (!tamo::hasValidMagic(img) || !img->orvptr || img->orvndim < 1 || img->orvndim > TAMO_MAXDIM)
        return "there is no image to write";
    const char *descr = descrOf(img->dtype);
    if (!descr) return std::string("a \"") + img->orvdt + "\" image cannot be written as .npy";
    std::string shape;
    const int cols = img->orvdim[0].dlen;
    const int rows = img->orvndim >= 2 ? img->orvdim[1].dlen : 1;
    if (img->orvndim == 3)
        shape = std::to_string(img->orvdim[2].dlen) + ", " + std::to_string(rows) + ", " +
                std::to_string(cols);
    else
        shape = std::to_string(rows) + ", " + std::to_string(cols);
    const char order = img->orvbpd == 1 ? '|' : (hostIsLittleEndian() ? '<' : '>');
    std::string dict = std::string("{'descr': '") + order + descr +
                       "', 'fortran_order': False, 'shape': (" + shape + "), }";
    // The header, with its newline, pads the data's start to a multiple of 64.
    const std::size_t prefix = kMagicSize + 2 + 2;
    const std::size_t total = (prefix + dict.size() + 1 + 63) / 64 * 64;
    dict.append(total - prefix - dict.size() - 1, ' ');
    dict.push_back('\n');
    std::string head(kMagic, kMagicSize);
    head.push_back('\x01');
    head.push_back('\x00');
    head.push_back(static_cast<char>(dict.size() & 0xff));
    head.push_back(static_cast<char>(dict.size() >> 8));
    head += dict;

    const long long bytes = tamo::elementCount(img) * img->orvbpd;
    tamo::AtomicFile file(path);
    if (!file.ok()) return file.error();
    if (!writeAll(file.fd(), head.data(), head.size()) ||
        !writeAll(file.fd(), img->orvptr, static_cast<std::size_t>(bytes)))
        return std::strerror(errno);
    if (!file.commit()) return file.error();
    return std::string();
}

}  // namespace frontend
