// Colours are chosen in two steps. First the colour cube is cut into boxes,
// each cut where it lowers the summed squared error the most, always in the
// box whose error is largest (Xiaolin Wu's variance-minimising method, on a
// 32-level histogram of each channel). The boxes' means then move to the
// means of the colours nearest to them (Lloyd's k-means), over the distinct
// colours weighted by their counts, for a fixed number of passes. Every
// pixel gets the palette entry nearest to it, exactly.
#include "quantize.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <vector>

namespace quantize {

namespace {

using Rgb = std::uint32_t;  // 0xRRGGBB

constexpr int kColours = 256;
constexpr int kPasses = 5;

int red(Rgb c) { return static_cast<int>(c >> 16); }
int green(Rgb c) { return static_cast<int>(c >> 8 & 0xFF); }
int blue(Rgb c) { return static_cast<int>(c & 0xFF); }

int distance(Rgb a, Rgb b) {
    const int dr = red(a) - red(b), dg = green(a) - green(b), db = blue(a) - blue(b);
    return dr * dr + dg * dg + db * db;
}

// Which of the 2^24 colours a picture has, a bit each, with the number of
// colours below each 64-bit word: a colour's rank among the picture's
// colours, in colour order, is then a look-up and a count of bits. A few
// megabytes, and each pixel touches them once, without hashing.
class ColourSet {
public:
    void add(Rgb c) { bits_[c >> 6] |= std::uint64_t{1} << (c & 63); }

    // Counts; after it, only rank() and colours().
    void close() {
        std::uint32_t below = 0;
        for (std::size_t w = 0; w < bits_.size(); ++w) {
            below_[w] = below;
            below += static_cast<std::uint32_t>(__builtin_popcountll(bits_[w]));
        }
        size_ = below;
    }

    std::uint32_t rank(Rgb c) const {
        const std::uint64_t lower = bits_[c >> 6] & ((std::uint64_t{1} << (c & 63)) - 1);
        return below_[c >> 6] + static_cast<std::uint32_t>(__builtin_popcountll(lower));
    }

    std::vector<Rgb> colours() const {
        std::vector<Rgb> all;
        all.reserve(size_);
        for (std::size_t w = 0; w < bits_.size(); ++w)
            for (std::uint64_t word = bits_[w]; word; word &= word - 1)
                all.push_back(static_cast<Rgb>(w << 6 | static_cast<unsigned>(__builtin_ctzll(word))));
        return all;
    }

private:
    std::vector<std::uint64_t> bits_ = std::vector<std::uint64_t>(1u << 18);
    std::vector<std::uint32_t> below_ = std::vector<std::uint32_t>(bits_.size());
    std::uint32_t size_ = 0;
};

struct Counted {
    Rgb colour;
    std::uint32_t count;
};

// The palette in order of r+g+b. A search starts at a colour's own sum and
// goes both ways until the sums alone lie farther than the best match found,
// since (dr+dg+db)^2 <= 3(dr^2+dg^2+db^2): exact, and it looks at few entries.
// None at all where the guess lies within half the distance from it to the
// entry nearest to it: no other entry can then be nearer.
class NearestSearch {
public:
    explicit NearestSearch(const std::vector<Rgb>& palette)
        : sorted_(palette.size()), alone_(palette.size(), INT_MAX) {
        for (std::size_t a = 0; a < palette.size(); ++a)
            for (std::size_t b = 0; b < a; ++b) {
                const int d = distance(palette[a], palette[b]);
                alone_[a] = std::min(alone_[a], d);
                alone_[b] = std::min(alone_[b], d);
            }
        std::vector<int> order(palette.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return sum(palette[a]) < sum(palette[b]); });
        for (std::size_t i = 0; i < order.size(); ++i) sorted_[i] = {palette[order[i]], order[i]};
        std::size_t at = 0;
        for (int s = 0; s < static_cast<int>(first_.size()); ++s) {
            while (at < sorted_.size() && sum(sorted_[at].colour) < s) ++at;
            first_[s] = static_cast<int>(at);
        }
    }

    // The index of the entry nearest to `c`; `guess` (an index, or -1), a
    // likely one, lets the search stop sooner.
    int find(Rgb c, int guess, const std::vector<Rgb>& palette) const {
        const int s = sum(c);
        int best = guess, bestDistance = guess < 0 ? INT_MAX : distance(c, palette[guess]);
        if (guess >= 0 && 4 * static_cast<long long>(bestDistance) <= alone_[guess]) return guess;
        auto look = [&](const Entry& e) {
            const int gap = sum(e.colour) - s;
            if (gap * gap >= 3 * static_cast<long long>(bestDistance)) return false;
            const int d = distance(c, e.colour);
            if (d < bestDistance) bestDistance = d, best = e.index;
            return true;
        };
        const int n = static_cast<int>(sorted_.size());
        for (int i = first_[s]; i < n && look(sorted_[i]); ++i) {
        }
        for (int i = first_[s] - 1; i >= 0 && look(sorted_[i]); --i) {
        }
        return best;
    }

private:
    struct Entry {
        Rgb colour;
        int index;
    };
    static int sum(Rgb c) { return red(c) + green(c) + blue(c); }

    std::vector<Entry> sorted_;
    std::vector<int> alone_;  // per entry, the squared distance to the nearest other one
    std::array<int, 3 * 255 + 1> first_{};  // per sum, the first entry whose sum is not below it
};

// Wu's method. Moments of the colours per histogram cell, summed from the
// origin, so that any box's moments take eight look-ups.
class BoxCutter {
public:
    explicit BoxCutter(const std::vector<Counted>& colours) : cells_(kSide * kSide * kSide) {
        for (const Counted& c : colours) {
            const double n = c.count, r = red(c.colour), g = green(c.colour), b = blue(c.colour);
            cells_[cell(c.colour)] += {n, n * r, n * g, n * b, n * (r * r + g * g + b * b)};
        }
        for (int r = 1; r < kSide; ++r)
            for (int g = 0; g < kSide; ++g)
                for (int b = 0; b < kSide; ++b) cells_[at(r, g, b)] += cells_[at(r - 1, g, b)];
        for (int r = 0; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 0; b < kSide; ++b) cells_[at(r, g, b)] += cells_[at(r, g - 1, b)];
        for (int r = 0; r < kSide; ++r)
            for (int g = 0; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b) cells_[at(r, g, b)] += cells_[at(r, g, b - 1)];
    }

    // The means of at most `count` boxes, and per histogram cell (see
    // cell()) the index of its box's mean, a first guess at its colours' nearest.
    std::vector<Rgb> palette(int count, std::vector<int>& guesses) const {
        std::vector<Box> boxes{Box{{0, 0, 0}, {kSide - 1, kSide - 1, kSide - 1}}};
        std::vector<double> errors{error(boxes[0])};
        while (static_cast<int>(boxes.size()) < count) {
            const auto worst = std::max_element(errors.begin(), errors.end()) - errors.begin();
            if (errors[worst] <= 0) break;
            Box upper;
            if (!cut(boxes[worst], upper)) {
                errors[worst] = 0;
                continue;
            }
            errors[worst] = error(boxes[worst]);
            boxes.push_back(upper);
            errors.push_back(error(upper));
        }
        std::vector<Rgb> means;
        guesses.assign(cells_.size(), 0);
        for (const Box& box : boxes) {
            const Moments m = moments(box);
            if (m.n <= 0) continue;
            for (int r = box.lo[0] + 1; r <= box.hi[0]; ++r)
                for (int g = box.lo[1] + 1; g <= box.hi[1]; ++g)
                    for (int b = box.lo[2] + 1; b <= box.hi[2]; ++b)
                        guesses[at(r, g, b)] = static_cast<int>(means.size());
            means.push_back(mean(m.n, m.r, m.g, m.b));
        }
        return means;
    }

    static int cell(Rgb c) { return at((red(c) >> 3) + 1, (green(c) >> 3) + 1, (blue(c) >> 3) + 1); }

    // The colour of mean (r, g, b) / n, rounded.
    static Rgb mean(double n, double r, double g, double b) {
        auto channel = [n](double v) { return static_cast<Rgb>(std::min(255.0, v / n + 0.5)); };
        return channel(r) << 16 | channel(g) << 8 | channel(b);
    }

private:
    static constexpr int kSide = 33;  // 32 levels and a border of zeros below them

    struct Moments {
        double n = 0, r = 0, g = 0, b = 0, squares = 0;
        Moments& operator+=(const Moments& o) {
            n += o.n, r += o.r, g += o.g, b += o.b, squares += o.squares;
            return *this;
        }
        Moments operator-(const Moments& o) const {
            return {n - o.n, r - o.r, g - o.g, b - o.b, squares - o.squares};
        }
        // Sum of squares of the channel sums over the count: what the
        // colours' mean takes off their squared error.
        double spread() const { return n > 0 ? (r * r + g * g + b * b) / n : 0; }
    };
    // Cells lo (excluded) to hi (included) on each axis.
    struct Box {
        int lo[3], hi[3];
    };

    static int at(int r, int g, int b) { return (r * kSide + g) * kSide + b; }

    Moments moments(const Box& box) const {
        Moments total;
        for (int corner = 0; corner < 8; ++corner) {
            const int r = corner & 4 ? box.hi[0] : box.lo[0];
            const int g = corner & 2 ? box.hi[1] : box.lo[1];
            const int b = corner & 1 ? box.hi[2] : box.lo[2];
            const Moments& m = cells_[at(r, g, b)];
            const int highs = (corner >> 2 & 1) + (corner >> 1 & 1) + (corner & 1);
            total += highs % 2 ? m : Moments{} - m;  // inclusion and exclusion
        }
        return total;
    }

    double error(const Box& box) const {
        const Moments m = moments(box);
        return m.squares - m.spread();
    }

    // Cuts `box` where the two halves' summed error is least, keeping the
    // lower half in `box` and the upper in `upper`; false if nothing can be cut.
    bool cut(Box& box, Box& upper) const {
        const Moments whole = moments(box);
        double best = 0;
        int axis = -1, at = 0;
        for (int a = 0; a < 3; ++a) {
            for (int c = box.lo[a] + 1; c < box.hi[a]; ++c) {
                Box lower = box;
                lower.hi[a] = c;
                const Moments low = moments(lower), high = whole - low;
                if (low.n <= 0 || high.n <= 0) continue;
                const double gain = low.spread() + high.spread();
                if (gain > best) best = gain, axis = a, at = c;
            }
        }
        if (axis < 0) return false;
        upper = box;
        box.hi[axis] = at;
        upper.lo[axis] = at;
        return true;
    }

    std::vector<Moments> cells_;
};

// Lloyd's passes: each colour to its nearest entry, each entry to the mean
// of its colours (an entry nobody chose stays). `nearest` holds each colour's
// entry, which the next pass tries first.
void refine(std::vector<Rgb>& palette, const std::vector<Counted>& colours, std::vector<int>& nearest) {
    struct Sums {
        double n = 0, r = 0, g = 0, b = 0;
    };
    for (int pass = 0; pass < kPasses; ++pass) {
        const NearestSearch search(palette);
        std::vector<Sums> sums(palette.size());
        for (std::size_t i = 0; i < colours.size(); ++i) {
            nearest[i] = search.find(colours[i].colour, nearest[i], palette);
            const Rgb c = colours[i].colour;
            const double n = colours[i].count;
            Sums& s = sums[static_cast<std::size_t>(nearest[i])];
            s.n += n;
            s.r += n * red(c);
            s.g += n * green(c);
            s.b += n * blue(c);
        }
        for (std::size_t k = 0; k < palette.size(); ++k)
            if (sums[k].n > 0) palette[k] = BoxCutter::mean(sums[k].n, sums[k].r, sums[k].g, sums[k].b);
    }
}

}  // namespace

bmp::PalettedImage toPaletted(const std::uint8_t* pixels, int width, int height, int channels) {
    bmp::PalettedImage image;
    if (width <= 0 || height <= 0) return image;
    image.width = width;
    image.height = height;
    const std::size_t w = static_cast<std::size_t>(width), count = w * static_cast<std::size_t>(height);
    const std::size_t step = static_cast<std::size_t>(channels);
    auto colourAt = [&](std::size_t i) {
        const std::uint8_t* p = pixels + i * step;
        return Rgb{p[0]} << 16 | Rgb{p[1]} << 8 | p[2];
    };

    // Neighbours often share a colour, so each pass skips repeats.
    ColourSet set;
    for (std::size_t i = 0; i < count; ++i) set.add(colourAt(i));
    set.close();
    // Each pixel's rank among the distinct colours, looked up once a run.
    auto forEachRank = [&](auto&& use) {
        Rgb last = colourAt(0);
        std::uint32_t rank = set.rank(last);
        for (std::size_t i = 0; i < count; ++i) {
            const Rgb c = colourAt(i);
            if (c != last) last = c, rank = set.rank(c);
            use(i, rank);
        }
    };
    std::vector<Counted> colours;
    for (Rgb c : set.colours()) colours.push_back({c, 0});
    forEachRank([&](std::size_t, std::uint32_t rank) { ++colours[rank].count; });

    std::vector<Rgb> palette;
    std::vector<int> nearest(colours.size(), -1);
    if (colours.size() <= kColours) {
        for (std::size_t i = 0; i < colours.size(); ++i) {
            palette.push_back(colours[i].colour);
            nearest[i] = static_cast<int>(i);
        }
    } else {
        std::vector<int> guesses;
        palette = BoxCutter(colours).palette(kColours, guesses);
        for (std::size_t i = 0; i < colours.size(); ++i) nearest[i] = guesses[BoxCutter::cell(colours[i].colour)];
        refine(palette, colours, nearest);
        const NearestSearch search(palette);
        for (std::size_t i = 0; i < colours.size(); ++i)
            nearest[i] = search.find(colours[i].colour, nearest[i], palette);
    }
    for (Rgb c : palette)
        image.palette.push_back({static_cast<std::uint8_t>(red(c)), static_cast<std::uint8_t>(green(c)),
                                 static_cast<std::uint8_t>(blue(c))});
    image.indices.resize(count);
    forEachRank([&](std::size_t i, std::uint32_t rank) {
        const std::size_t row = static_cast<std::size_t>(height) - 1 - i / w;  // bottom row first
        image.indices[row * w + i % w] = static_cast<std::uint8_t>(nearest[rank]);
    });
    return image;
}

}  // namespace quantize
