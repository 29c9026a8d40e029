// Signature loading and lookup against the plain unbalanced tree, measured in one run.
//
// Prints, for a full 65535-entry file written in ascending and in random fingerprint
// order: load time of each table, the ratio ascending/random, the ratio load/raw read of
// the same bytes, lookup time, and memory per entry.
#include "signature_loader.h"
#include "signature_table.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {

// The reference: one node per entry, read 8 bytes a call, never rebalanced.
struct Node {
    SignatureEntry entry;
    Node* left = nullptr;
    Node* right = nullptr;
};

struct ReferenceTree {
    Node* root = nullptr;
    std::size_t count = 0;
    ~ReferenceTree() { Clear(root); }
    static void Clear(Node* n) {
        // Iterative: an ascending file makes the tree a 65535-deep list.
        std::vector<Node*> stack;
        if (n) stack.push_back(n);
        while (!stack.empty()) {
            Node* top = stack.back();
            stack.pop_back();
            if (top->left) stack.push_back(top->left);
            if (top->right) stack.push_back(top->right);
            delete top;
        }
    }
    void Insert(Node* node) {
        Node** place = &root;
        while (*place) place = node->entry.fingerprint < (*place)->entry.fingerprint ? &(*place)->left : &(*place)->right;
        *place = node;
        ++count;
    }
    std::uint32_t Lookup(std::uint32_t fp) const {
        for (Node* n = root; n;) {
            if (n->entry.fingerprint == fp) return n->entry.typeIndex;
            n = fp < n->entry.fingerprint ? n->left : n->right;
        }
        return 0xFFFFFFFFu;
    }
};

bool LoadReference(const std::string& path, ReferenceTree& tree) {
    unique_file file = OpenSignatureFile(path.c_str());
    SignatureFileHeader header;
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), &header, sizeof header, &got, nullptr) || got != sizeof header) return false;
    for (unsigned i = 0; i < header.entryCount; ++i) {
        auto node = new Node;
        if (!::ReadFile(file.get(), &node->entry, sizeof node->entry, &got, nullptr) || got != sizeof node->entry) {
            delete node;
            return false;
        }
        tree.Insert(node);
    }
    return true;
}

std::string WriteFile(const std::string& path, std::vector<SignatureEntry> entries) {
    SignatureFileHeader header{};
    std::memcpy(header.magic, kSignatureMagic, 4);
    header.entryCount = static_cast<std::uint16_t>(entries.size());
    unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), &header, sizeof header, &written, nullptr);
    ::WriteFile(file.get(), entries.data(), static_cast<DWORD>(entries.size() * sizeof(SignatureEntry)), &written, nullptr);
    return path;
}

template <typename F>
double Seconds(F f, int repeat = 1) {
    double best = 1e9;
    for (int i = 0; i < repeat; ++i) {
        auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

double RawRead(const std::string& path) {
    return Seconds([&] {
        unique_file file = OpenSignatureFile(path.c_str());
        std::vector<char> buffer(1 << 20);
        DWORD got = 0;
        ReadFully(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), got);
    }, 5);
}

}  // namespace

int main() {
    constexpr std::size_t kEntries = 65535;
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    std::mt19937 rng(7);
    std::vector<SignatureEntry> entries(kEntries);
    for (std::size_t i = 0; i < kEntries; ++i) entries[i] = {static_cast<std::uint32_t>(i % 12), rng()};
    std::vector<SignatureEntry> ascending = entries;
    std::sort(ascending.begin(), ascending.end(),
              [](const SignatureEntry& a, const SignatureEntry& b) { return a.fingerprint < b.fingerprint; });
    std::string randomPath = WriteFile(std::string(temp) + "bench_random.kws", entries);
    std::string ascendingPath = WriteFile(std::string(temp) + "bench_ascending.kws", ascending);

    auto loadTable = [](const std::string& path, SignatureTable& table) {
        unique_file file = OpenSignatureFile(path.c_str());
        SignatureFileHeader header;
        return ReadSignatureEntries(file.get(), header, table);
    };

    double raw = RawRead(randomPath);
    SignatureTable tableRandom, tableAscending;
    double tRandom = Seconds([&] { tableRandom.Clear(); loadTable(randomPath, tableRandom); }, 5);
    double tAscending = Seconds([&] { tableAscending.Clear(); loadTable(ascendingPath, tableAscending); }, 5);

    ReferenceTree refRandom, refAscending;
    double rRandom = Seconds([&] { LoadReference(randomPath, refRandom); });
    std::printf("reference: loading the ascending file into the unbalanced tree (about 2e9 comparisons)...\n");
    std::fflush(stdout);
    double rAscending = Seconds([&] { LoadReference(ascendingPath, refAscending); });

    std::vector<std::uint32_t> probes(200000);
    for (auto& p : probes) p = (rng() & 1) ? entries[rng() % kEntries].fingerprint : rng();
    volatile std::uint32_t sink = 0;
    double lookTable = Seconds([&] { for (auto p : probes) sink = sink + tableAscending.Lookup(p); }, 3);
    double lookRefRandom = Seconds([&] { for (auto p : probes) sink = sink + refRandom.Lookup(p); }, 3);
    double lookRefAscending = Seconds([&] { for (auto p : std::vector<std::uint32_t>(probes.begin(), probes.begin() + 2000)) sink = sink + refAscending.Lookup(p); }) * 100;

    std::printf("entries                         %zu (%zu bytes on disk)\n", kEntries, 24 + kEntries * 8);
    std::printf("raw read of the file            %.6f s\n", raw);
    std::printf("load, random order              %.6f s   reference %.6f s   (%.1fx faster)\n", tRandom, rRandom, rRandom / tRandom);
    std::printf("load, ascending order           %.6f s   reference %.6f s   (%.1fx faster)\n", tAscending, rAscending, rAscending / tAscending);
    std::printf("ascending / random load         %.2f       reference %.2f\n", tAscending / tRandom, rAscending / rRandom);
    std::printf("load / raw read (random)        %.2f       reference %.2f\n", tRandom / raw, rRandom / raw);
    std::printf("lookup, 200000 probes           %.6f s   reference %.6f s (random file), %.6f s (ascending file)\n",
                lookTable, lookRefRandom, lookRefAscending);
    std::printf("bytes per entry                 %.1f       reference %zu + allocator overhead\n",
                static_cast<double>(sizeof(SignatureEntry)) , sizeof(Node));
    ::DeleteFileA(randomPath.c_str());
    ::DeleteFileA(ascendingPath.c_str());
    return sink == 0xFFFFFFFFu ? 1 : 0;
}
