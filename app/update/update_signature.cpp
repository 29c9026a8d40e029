#include "update_signature.h"

#include "unique_handle.h"

#include <algorithm>

namespace tolvane {

namespace {

struct release_context {
    void operator()(HCRYPTPROV provider) const { ::CryptReleaseContext(provider, 0); }
};
struct destroy_key {
    void operator()(HCRYPTKEY key) const { ::CryptDestroyKey(key); }
};
struct destroy_hash {
    void operator()(HCRYPTHASH hash) const { ::CryptDestroyHash(hash); }
};
using unique_provider = unique_any<HCRYPTPROV, release_context, detail::null_value<HCRYPTPROV>>;
using unique_key = unique_any<HCRYPTKEY, destroy_key, detail::null_value<HCRYPTKEY>>;
using unique_hash = unique_any<HCRYPTHASH, destroy_hash, detail::null_value<HCRYPTHASH>>;

struct free_local {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// SHA-256 came to the enhanced RSA and AES provider with Windows XP SP3; the headers for
// the XP we build against leave its name out.
constexpr ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;  // ALG_SID_SHA_256

// A key file is a few hundred bytes; more is not one.
constexpr DWORD kMaxKeyFile = 64 * 1024;
constexpr DWORD kHashBlock = 64 * 1024;

// crypt32 is needed only to read the key file, once per update run with a key: bound at
// run time, so that every start of the program does not load it (and what it pulls in).
struct Crypt32 {
    unique_hmodule module;
    decltype(&::CryptStringToBinaryA) stringToBinary = nullptr;
    decltype(&::CryptDecodeObjectEx) decodeObject = nullptr;
    decltype(&::CryptImportPublicKeyInfo) importPublicKeyInfo = nullptr;

    bool Load() {
        module.reset(::LoadLibraryA("crypt32.dll"));
        if (!module) return false;
        stringToBinary =
            reinterpret_cast<decltype(stringToBinary)>(::GetProcAddress(module.get(), "CryptStringToBinaryA"));
        decodeObject = reinterpret_cast<decltype(decodeObject)>(::GetProcAddress(module.get(), "CryptDecodeObjectEx"));
        importPublicKeyInfo =
            reinterpret_cast<decltype(importPublicKeyInfo)>(::GetProcAddress(module.get(), "CryptImportPublicKeyInfo"));
        return stringToBinary && decodeObject && importPublicKeyInfo;
    }
};

std::optional<std::vector<BYTE>> PemToDer(const Crypt32& crypt32, const std::string& pem) {
    DWORD size = 0;
    if (!crypt32.stringToBinary(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                &size, nullptr, nullptr) ||
        size == 0)
        return std::nullopt;
    std::vector<BYTE> der(size);
    if (!crypt32.stringToBinary(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                &size, nullptr, nullptr))
        return std::nullopt;
    der.resize(size);
    return der;
}

// The SHA-256 of the whole file at `path`; empty when it cannot be read.
unique_hash HashFile(HCRYPTPROV provider, const std::string& path) {
    unique_hash hash;
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file || !::CryptCreateHash(provider, kSha256, 0, 0, hash.put())) return unique_hash();
    std::vector<BYTE> block(kHashBlock);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), block.data(), kHashBlock, &read, nullptr)) return unique_hash();
        if (read == 0) return hash;
        if (!::CryptHashData(hash.get(), block.data(), read, 0)) return unique_hash();
    }
}

}  // namespace

struct UpdateKey::Handles {
    unique_provider provider;
    // Declared after the provider they live in, so they are destroyed first.
    std::vector<unique_key> keys;
};

std::string UpdateKeyBesideProgram() {
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return std::string();
    std::string text(path, length);
    std::string::size_type slash = text.find_last_of('\\');
    return (slash == std::string::npos ? std::string() : text.substr(0, slash + 1)) + kUpdateKeyFileName;
}

bool UpdateKeyPresent(const std::string& path) {
    return !path.empty() && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<UpdateKey> UpdateKey::Load(const std::string& path) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string pem(kMaxKeyFile, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), pem.data(), kMaxKeyFile, &read, nullptr) || read == kMaxKeyFile) return std::nullopt;
    pem.resize(read);
    return FromPem(pem);
}

std::optional<UpdateKey> UpdateKey::FromPem(const std::string& pem) {
    static const std::string begin = "-----BEGIN PUBLIC KEY-----", end = "-----END PUBLIC KEY-----";
    Crypt32 crypt32;
    if (!crypt32.Load()) return std::nullopt;
    auto handles = std::make_shared<Handles>();
    if (!::CryptAcquireContextA(handles->provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return std::nullopt;
    // Several keys, one block each, while the maker moves from one key to the next; a block
    // that does not read fails the whole file rather than dropping a key unnoticed.
    for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
        std::size_t stop = pem.find(end, at);
        if (stop == std::string::npos) return std::nullopt;
        stop += end.size();
        std::optional<std::vector<BYTE>> der = PemToDer(crypt32, pem.substr(at, stop - at));
        at = stop;
        CERT_PUBLIC_KEY_INFO* info = nullptr;
        DWORD size = 0;
        if (!der || !crypt32.decodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der->data(),
                                          static_cast<DWORD>(der->size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                                          &size))
            return std::nullopt;
        std::unique_ptr<void, free_local> decoded(info);
        unique_key key;
        if (std::string(info->Algorithm.pszObjId) != szOID_RSA_RSA ||
            !crypt32.importPublicKeyInfo(handles->provider.get(), X509_ASN_ENCODING, info, key.put()))
            return std::nullopt;
        handles->keys.push_back(std::move(key));
    }
    if (handles->keys.empty()) return std::nullopt;
    UpdateKey key;
    key.handles_ = std::move(handles);
    return key;
}

bool UpdateKey::Verifies(const std::string& path, const std::vector<std::uint8_t>& signature) const {
    if (!handles_ || signature.empty() || signature.size() > kMaxSignatureBytes) return false;
    // CryptoAPI takes the signature least significant byte first.
    std::vector<BYTE> reversed(signature.rbegin(), signature.rend());
    for (const unique_key& key : handles_->keys) {
        // A hash object serves one verification; the file is read again for each key.
        unique_hash hash = HashFile(handles_->provider.get(), path);
        if (hash && ::CryptVerifySignatureA(hash.get(), reversed.data(), static_cast<DWORD>(reversed.size()),
                                            key.get(), nullptr, 0))
            return true;
    }
    return false;
}

}  // namespace tolvane
