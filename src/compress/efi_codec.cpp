// The EFI 1.1 codec. Alphabets of the bit stream:
//   C (510 symbols): 0-255 literal bytes, 256-509 matches of length c - 253 (3 to 256);
//   P (14 symbols): the position class of a match, followed by p - 1 extra bits;
//   T (19 symbols): the code of the C lengths (0-2 zero runs, s >= 3 length s - 2).
#include "compress/efi_codec.h"

#include "runtime/memory.h"

namespace tarn {

namespace {

constexpr int kCSymbols = 510;
constexpr int kPSymbols = 14;
constexpr int kTSymbols = 19;
constexpr int kMaxCodeLength = 16;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr uint32_t kWindow = 8192;
constexpr uint32_t kBlockSymbols = 0x4000;
constexpr int kTSpecial = 3;  // after the T length at index 2 comes a 2-bit zero count

uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void write_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    __builtin_memcpy(&v, p, 8);
    return v;
}

// The P symbol of a position value: 0 for 0, else its number of significant bits.
int position_class(uint32_t d) { return d == 0 ? 0 : 32 - __builtin_clz(d); }

// Canonical codes from lengths: in increasing length, within a length in symbol order.
void canonical_codes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint32_t count[kMaxCodeLength + 1] = {};
    for (int s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; len++) {
        next[len] = code;
        code = (code + count[len]) << 1;
    }
    for (int s = 0; s < n; s++)
        codes[s] = lengths[s] ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
}

// ================================================================ encoder

class BitWriter {
public:
    explicit BitWriter(uint64_t initial) {
        capacity_ = initial < 64 ? 64 : initial;
        data_ = static_cast<uint8_t*>(xallocate(capacity_));
        size_ = kEfiImageHeaderSize;
        for (uint64_t i = 0; i < size_; i++) data_[i] = 0;
    }
    ~BitWriter() { release(data_); }
    BitWriter(const BitWriter&) = delete;
    BitWriter& operator=(const BitWriter&) = delete;

    // n <= 32 bits of value, most significant first.
    void put(int n, uint32_t value) {
        if (n == 0) return;
        acc_ = (acc_ << n) | (value & ((n == 32) ? 0xffffffffu : ((1u << n) - 1)));
        bits_ += n;
        while (bits_ >= 8) {
            bits_ -= 8;
            byte(static_cast<uint8_t>(acc_ >> bits_));
        }
    }
    // Pads the last byte with 0 bits.
    void finish() {
        if (bits_ > 0) put(8 - bits_, 0);
    }
    uint64_t size() const { return size_; }
    uint8_t* data() { return data_; }
    uint8_t* take() {
        uint8_t* p = data_;
        data_ = nullptr;
        return p;
    }

private:
    void byte(uint8_t b) {
        if (size_ == capacity_) {
            capacity_ *= 2;
            data_ = static_cast<uint8_t*>(xresize(data_, capacity_));
        }
        data_[size_++] = b;
    }
    uint8_t* data_;
    uint64_t size_;
    uint64_t capacity_;
    uint64_t acc_ = 0;
    int bits_ = 0;
};

// The tree: merging the two smallest active nodes (ties: the earlier node; leaves are
// numbered by symbol, merged nodes after them in the order made); when a length exceeds
// 16 the frequencies are halved (rounded up, so none vanishes) and the tree is built again.
}  // namespace

void efi_code_lengths(const uint32_t* frequencies, int n, uint8_t* lengths) {
    uint64_t weight[2 * kCSymbols];
    int parent[2 * kCSymbols];
    int heap[kCSymbols];
    uint32_t freq[kCSymbols];
    int used = 0;
    for (int s = 0; s < n; s++) {
        freq[s] = frequencies[s];
        lengths[s] = 0;
        if (freq[s]) used++;
    }
    if (used < 2) return;

    auto less = [&](int a, int b) { return weight[a] < weight[b] || (weight[a] == weight[b] && a < b); };
    for (;;) {
        int size = 0;
        auto push = [&](int node) {
            int i = size++;
            while (i > 0) {
                int up = (i - 1) / 2;
                if (!less(node, heap[up])) break;
                heap[i] = heap[up];
                i = up;
            }
            heap[i] = node;
        };
        auto pop = [&]() {
            int top = heap[0];
            int last = heap[--size];
            int i = 0;
            for (;;) {
                int child = 2 * i + 1;
                if (child >= size) break;
                if (child + 1 < size && less(heap[child + 1], heap[child])) child++;
                if (!less(heap[child], last)) break;
                heap[i] = heap[child];
                i = child;
            }
            if (size > 0) heap[i] = last;
            return top;
        };
        for (int s = 0; s < n; s++) {
            weight[s] = freq[s];
            if (freq[s]) push(s);
        }
        int next = n;
        while (size > 1) {
            int a = pop();
            int b = pop();
            weight[next] = weight[a] + weight[b];
            parent[a] = parent[b] = next;
            push(next);
            next++;
        }
        // Parents are made after their children, so one pass from the root down gives depths.
        const int root = next - 1;
        uint8_t depth[2 * kCSymbols];
        depth[root] = 0;
        bool too_long = false;
        for (int node = root - 1; node >= 0; node--) {
            if (node < n && !freq[node]) continue;
            depth[node] = static_cast<uint8_t>(depth[parent[node]] + 1);
            if (depth[node] > kMaxCodeLength) too_long = true;
        }
        if (!too_long) {
            for (int s = 0; s < n; s++) lengths[s] = freq[s] ? depth[s] : 0;
            return;
        }
        for (int s = 0; s < n; s++)
            if (freq[s]) freq[s] = (freq[s] + 1) / 2;
    }
}

namespace {

struct EncoderState {
    uint32_t head[kWindow];  // newest position of each hash, or kNone
    uint32_t prev[kWindow];  // position & (kWindow - 1) -> older position with the same hash
    uint16_t symbol[kBlockSymbols];
    uint16_t position[kBlockSymbols];  // distance - 1 of a match
    uint32_t count;
};

constexpr uint32_t kNone = 0xffffffffu;

uint32_t hash3(const uint8_t* p) {
    return ((static_cast<uint32_t>(p[0]) << 10) ^ (static_cast<uint32_t>(p[1]) << 5) ^ p[2]) &
           (kWindow - 1);
}

// Equal bytes of a and b, at most limit.
uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x = load64(a + n) ^ load64(b + n);
        if (x) return n + (static_cast<uint32_t>(__builtin_ctzll(x)) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// Writes a PT length list: count n in `width` bits (trailing zeros left off), lengths
// below 7 in 3 bits, longer ones as 7, L - 7 one-bits and a 0-bit; after index
// special - 1 a 2-bit count of the zero lengths that follow (up to 3).
void write_pt_lengths(BitWriter& out, const uint8_t* lengths, int n_symbols, int width, int special) {
    int n = n_symbols;
    while (n > 0 && lengths[n - 1] == 0) n--;
    out.put(width, static_cast<uint32_t>(n));
    int i = 0;
    while (i < n) {
        int len = lengths[i++];
        if (len <= 6) {
            out.put(3, static_cast<uint32_t>(len));
        } else {
            out.put(3, 7);
            out.put(len - 7, (1u << (len - 7)) - 1);
            out.put(1, 0);
        }
        if (i == special) {
            int zeros = 0;
            while (zeros < 3 && i + zeros < n_symbols && lengths[i + zeros] == 0) zeros++;
            out.put(2, static_cast<uint32_t>(zeros));
            i += zeros;
        }
    }
}

// The C lengths as T symbols: calls emit(t, extra bits, extra value) for each.
template <class Emit> void walk_c_lengths(const uint8_t* c_lengths, int n, Emit emit) {
    int i = 0;
    while (i < n) {
        int len = c_lengths[i++];
        if (len != 0) {
            emit(len + 2, 0, 0);
            continue;
        }
        int run = 1;
        while (i < n && c_lengths[i] == 0) {
            run++;
            i++;
        }
        if (run <= 2) {
            for (int k = 0; k < run; k++) emit(0, 0, 0);
        } else if (run <= 18) {
            emit(1, 4, run - 3);
        } else if (run == 19) {
            emit(0, 0, 0);
            emit(1, 4, 15);
        } else {
            emit(2, 9, run - 20);
        }
    }
}

void write_block(BitWriter& out, const EncoderState& st) {
    uint32_t c_freq[kCSymbols] = {};
    uint32_t p_freq[kPSymbols] = {};
    for (uint32_t k = 0; k < st.count; k++) {
        c_freq[st.symbol[k]]++;
        if (st.symbol[k] >= 256) p_freq[position_class(st.position[k])]++;
    }
    uint8_t c_len[kCSymbols], p_len[kPSymbols];
    uint16_t c_code[kCSymbols], p_code[kPSymbols];
    efi_code_lengths(c_freq, kCSymbols, c_len);
    efi_code_lengths(p_freq, kPSymbols, p_len);
    canonical_codes(c_len, kCSymbols, c_code);
    canonical_codes(p_len, kPSymbols, p_code);
    int c_used = 0, c_only = 0, p_used = 0, p_only = 0;
    for (int s = 0; s < kCSymbols; s++)
        if (c_freq[s]) c_used++, c_only = s;
    for (int s = 0; s < kPSymbols; s++)
        if (p_freq[s]) p_used++, p_only = s;

    out.put(16, st.count);
    if (c_used == 1) {
        out.put(5, 0);  // T: the single-symbol form, symbol 0
        out.put(5, 0);
        out.put(9, 0);  // C: the single-symbol form
        out.put(9, static_cast<uint32_t>(c_only));
    } else {
        int n = kCSymbols;
        while (n > 0 && c_len[n - 1] == 0) n--;
        uint32_t t_freq[kTSymbols] = {};
        walk_c_lengths(c_len, n, [&](int t, int, int) { t_freq[t]++; });
        uint8_t t_len[kTSymbols];
        uint16_t t_code[kTSymbols];
        efi_code_lengths(t_freq, kTSymbols, t_len);
        canonical_codes(t_len, kTSymbols, t_code);
        int t_used = 0, t_only = 0;
        for (int s = 0; s < kTSymbols; s++)
            if (t_freq[s]) t_used++, t_only = s;
        if (t_used == 1) {
            out.put(5, 0);
            out.put(5, static_cast<uint32_t>(t_only));
        } else {
            write_pt_lengths(out, t_len, kTSymbols, 5, kTSpecial);
        }
        out.put(9, static_cast<uint32_t>(n));
        walk_c_lengths(c_len, n, [&](int t, int extra_bits, int extra) {
            out.put(t_len[t], t_code[t]);
            out.put(extra_bits, static_cast<uint32_t>(extra));
        });
    }
    if (p_used <= 1) {
        out.put(4, 0);
        out.put(4, static_cast<uint32_t>(p_only));
    } else {
        write_pt_lengths(out, p_len, kPSymbols, 4, -1);
    }
    for (uint32_t k = 0; k < st.count; k++) {
        const uint16_t c = st.symbol[k];
        out.put(c_len[c], c_code[c]);
        if (c < 256) continue;
        const uint32_t d = st.position[k];
        const int p = position_class(d);
        out.put(p_len[p], p_code[p]);
        if (p > 1) out.put(p - 1, d - (1u << (p - 1)));
    }
}

}  // namespace

bool efi_compress(const uint8_t* input, uint64_t length, uint8_t** image, uint64_t* image_length) {
    *image = nullptr;
    *image_length = 0;
    if (length > kEfiMaxOriginalSize) return false;
    BitWriter out(length / 2 + 64);
    Owned<EncoderState> st(static_cast<EncoderState*>(xallocate(sizeof(EncoderState))));
    for (uint32_t h = 0; h < kWindow; h++) st->head[h] = kNone;
    st->count = 0;

    const uint32_t n = static_cast<uint32_t>(length);
    uint32_t i = 0;
    while (i < n) {
        uint32_t best = 0, best_distance = 0;
        const uint32_t remaining = n - i;
        if (remaining >= kMinMatch) {
            const uint32_t limit = remaining < kMaxMatch ? remaining : kMaxMatch;
            uint32_t candidate = st->head[hash3(input + i)];
            int tries = 0;
            // Candidates come newest first; a longer match must agree at index best.
            while (candidate != kNone && i - candidate <= kWindow && tries < 256) {
                tries++;
                if (input[candidate + best] == input[i + best]) {
                    uint32_t len = match_length(input + candidate, input + i, limit);
                    if (len > best) {
                        best = len;
                        best_distance = i - candidate;
                        if (best == limit) break;
                    }
                }
                candidate = st->prev[candidate & (kWindow - 1)];
            }
        }
        uint32_t covered = 1;
        if (best >= kMinMatch) {
            st->symbol[st->count] = static_cast<uint16_t>(best + 253);
            st->position[st->count] = static_cast<uint16_t>(best_distance - 1);
            covered = best;
        } else {
            st->symbol[st->count] = input[i];
            st->position[st->count] = 0;
        }
        if (++st->count == kBlockSymbols) {
            write_block(out, *st.get());
            st->count = 0;
        }
        for (uint32_t k = 0; k < covered; k++, i++) {
            if (n - i < kMinMatch) continue;
            const uint32_t h = hash3(input + i);
            st->prev[i & (kWindow - 1)] = st->head[h];
            st->head[h] = i;
        }
    }
    if (st->count > 0) write_block(out, *st.get());
    out.finish();
    const uint64_t size = out.size();
    write_le32(out.data(), static_cast<uint32_t>(size - kEfiImageHeaderSize));
    write_le32(out.data() + 4, n);
    *image_length = size;
    *image = out.take();
    return true;
}

// ================================================================ decoder

namespace {

// Bits of the compressed data, most significant first; bits past its end read as 0.
// `buffer` holds `count` valid bits at its top; bits below them are either 0 or the
// true bits that follow, so filling again by OR is harmless.
struct BitReader {
    const uint8_t* data;
    uint64_t size;
    uint64_t pos = 0;
    uint64_t buffer = 0;
    int count = 0;

    void fill() {
        if (pos + 8 <= size) {
            uint64_t v = __builtin_bswap64(load64(data + pos));
            buffer |= v >> count;
            const int bytes = (63 - count) >> 3;
            pos += static_cast<uint64_t>(bytes);
            count += bytes * 8;
            return;
        }
        while (count <= 56) {
            const uint64_t b = pos < size ? data[pos] : 0;
            buffer |= b << (56 - count);
            pos++;
            count += 8;
        }
    }
    // At most 32 bits.
    uint32_t bits(int n) {
        if (n == 0) return 0;
        if (count < n) fill();
        const uint32_t v = static_cast<uint32_t>(buffer >> (64 - n));
        buffer <<= n;
        count -= n;
        return v;
    }
    uint64_t bits_consumed() const { return pos * 8 - static_cast<uint64_t>(count); }
};

// A decoding table: the first kFast bits of the stream index `fast`, whose entries are
// symbol | length << 9, or kSlow for codes longer than kFast bits, which are found by
// their canonical numbering. A single-symbol table decodes with 0 bits.
template <int kFast, int kSymbols> struct Decoder {
    static constexpr uint16_t kSlow = 0xffff;
    uint16_t fast[1 << kFast];
    uint32_t first[kMaxCodeLength + 1];   // first code of each length
    uint32_t count[kMaxCodeLength + 1];   // codes of each length
    uint32_t offset[kMaxCodeLength + 1];  // index in `sorted` of each length's first symbol
    uint16_t sorted[kSymbols];

    void single(int symbol) {
        for (uint16_t& e : fast) e = static_cast<uint16_t>(symbol);
    }

    // False for a length above 16 or lengths that are not a complete prefix code.
    bool build(const uint8_t* lengths) {
        for (int len = 0; len <= kMaxCodeLength; len++) count[len] = 0;
        for (int s = 0; s < kSymbols; s++) {
            if (lengths[s] > kMaxCodeLength) return false;
            count[lengths[s]]++;
        }
        count[0] = 0;
        uint32_t space = 0;
        for (int len = 1; len <= kMaxCodeLength; len++) space += count[len] << (kMaxCodeLength - len);
        if (space != (1u << kMaxCodeLength)) return false;
        uint32_t code = 0, index = 0;
        for (int len = 1; len <= kMaxCodeLength; len++) {
            first[len] = code;
            offset[len] = index;
            code = (code + count[len]) << 1;
            index += count[len];
        }
        uint32_t next[kMaxCodeLength + 1];
        for (int len = 1; len <= kMaxCodeLength; len++) next[len] = offset[len];
        for (int s = 0; s < kSymbols; s++)
            if (lengths[s]) sorted[next[lengths[s]]++] = static_cast<uint16_t>(s);
        for (uint16_t& e : fast) e = kSlow;
        for (int len = 1; len <= kFast; len++) {
            for (uint32_t k = 0; k < count[len]; k++) {
                const uint32_t c = first[len] + k;
                const uint16_t entry = static_cast<uint16_t>(sorted[offset[len] + k] | len << 9);
                const uint32_t from = c << (kFast - len), span = 1u << (kFast - len);
                for (uint32_t e = 0; e < span; e++) fast[from + e] = entry;
            }
        }
        return true;
    }

    // Needs at least 16 bits in the reader.
    int decode(BitReader& r) const {
        const uint16_t e = fast[r.buffer >> (64 - kFast)];
        if (e != kSlow) {
            const int len = e >> 9;
            r.buffer <<= len;
            r.count -= len;
            return e & 0x1ff;
        }
        for (int len = kFast + 1; len <= kMaxCodeLength; len++) {
            const uint32_t c = static_cast<uint32_t>(r.buffer >> (64 - len));
            if (c - first[len] < count[len]) {
                r.buffer <<= len;
                r.count -= len;
                return sorted[offset[len] + (c - first[len])];
            }
        }
        return -1;  // cannot happen for a complete code
    }
};

struct DecoderTables {
    Decoder<8, kTSymbols> t;
    Decoder<12, kCSymbols> c;
    Decoder<8, kPSymbols> p;
};

// A PT length list (see write_pt_lengths) into `table`.
template <class Table> bool read_pt_lengths(BitReader& r, Table& table, int n_symbols, int width, int special) {
    const int n = static_cast<int>(r.bits(width));
    if (n == 0) {
        const int symbol = static_cast<int>(r.bits(width));
        if (symbol >= n_symbols) return false;
        table.single(symbol);
        return true;
    }
    if (n > n_symbols) return false;
    uint8_t lengths[kTSymbols] = {};
    int i = 0;
    while (i < n) {
        int len = static_cast<int>(r.bits(3));
        if (len == 7) {
            while (r.bits(1)) {
                if (++len > kMaxCodeLength) return false;
            }
        }
        lengths[i++] = static_cast<uint8_t>(len);
        if (i == special) {
            const int zeros = static_cast<int>(r.bits(2));
            if (i + zeros > n_symbols) return false;
            i += zeros;  // lengths are already 0
        }
    }
    return table.build(lengths);
}

bool read_c_lengths(BitReader& r, DecoderTables& tables) {
    const int n = static_cast<int>(r.bits(9));
    if (n == 0) {
        const int symbol = static_cast<int>(r.bits(9));
        if (symbol >= kCSymbols) return false;
        tables.c.single(symbol);
        return true;
    }
    if (n > kCSymbols) return false;
    uint8_t lengths[kCSymbols] = {};
    int i = 0;
    while (i < n) {
        if (r.count < 32) r.fill();
        const int t = tables.t.decode(r);
        if (t < 0) return false;
        if (t >= 3) {
            lengths[i++] = static_cast<uint8_t>(t - 2);
            continue;
        }
        const int run = t == 0 ? 1 : t == 1 ? static_cast<int>(r.bits(4)) + 3 : static_cast<int>(r.bits(9)) + 20;
        if (i + run > kCSymbols) return false;
        i += run;
    }
    return tables.c.build(lengths);
}

}  // namespace

bool efi_image_sizes(const uint8_t* image, uint64_t length, uint32_t* compressed, uint32_t* original) {
    if (!image || length < kEfiImageHeaderSize) return false;
    *compressed = read_le32(image);
    *original = read_le32(image + 4);
    if (*compressed > length - kEfiImageHeaderSize) return false;
    return *original <= kEfiMaxOriginalSize;
}

int efi_decompress_into(const uint8_t* image, uint64_t length, uint8_t* output, uint64_t capacity) {
    uint32_t compressed = 0, original = 0;
    if (!efi_image_sizes(image, length, &compressed, &original)) return -1;
    if (original > capacity) return -1;
    if (original == 0) return 0;

    BitReader r{image + kEfiImageHeaderSize, compressed};
    const uint64_t allowed_bits = (static_cast<uint64_t>(compressed) + 1) * 8;
    Owned<DecoderTables> tables(static_cast<DecoderTables*>(allocate(sizeof(DecoderTables))));
    if (!tables) return -1;
    uint64_t out = 0;
    while (out < original) {
        const uint32_t block_size = r.bits(16);
        if (block_size == 0) return -1;
        if (!read_pt_lengths(r, tables->t, kTSymbols, 5, kTSpecial)) return -1;
        if (!read_c_lengths(r, *tables.get())) return -1;
        if (!read_pt_lengths(r, tables->p, kPSymbols, 4, -1)) return -1;
        for (uint32_t k = 0; k < block_size && out < original; k++) {
            // One fill covers a C code, a P code and its extra bits (at most 44 bits).
            if (r.count < 48) r.fill();
            const int c = tables->c.decode(r);
            if (c < 0) return -1;
            if (c < 256) {
                output[out++] = static_cast<uint8_t>(c);
                continue;
            }
            uint64_t len = static_cast<uint64_t>(c) - 253;
            const int p = tables->p.decode(r);
            if (p < 0) return -1;
            uint64_t distance = p <= 1 ? static_cast<uint64_t>(p) + 1 : (1u << (p - 1)) + r.bits(p - 1) + 1;
            if (distance > out) return -1;
            if (len > original - out) len = original - out;
            uint8_t* to = output + out;
            const uint8_t* from = to - distance;
            if (distance >= len) {
                __builtin_memcpy(to, from, len);
            } else {
                for (uint64_t b = 0; b < len; b++) to[b] = from[b];
            }
            out += len;
        }
        if (r.bits_consumed() > allowed_bits) return -1;
    }
    return 0;
}

int efi_decompress(const uint8_t* image, uint64_t length, uint8_t** output, uint64_t* output_length) {
    *output = nullptr;
    *output_length = 0;
    uint32_t compressed = 0, original = 0;
    if (!efi_image_sizes(image, length, &compressed, &original)) return -1;
    Owned<uint8_t> buffer(static_cast<uint8_t*>(allocate(original)));
    if (!buffer) return -1;
    if (efi_decompress_into(image, length, buffer.get(), original) != 0) return -1;
    *output = buffer.take();
    *output_length = original;
    return 0;
}

}  // namespace tarn
