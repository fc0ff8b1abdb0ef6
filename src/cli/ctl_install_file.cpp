#include "cli/ctl_install_file.h"

#include <filesystem>
#include <fstream>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Builds the document from the parser's events, as nlohmann's own builder does, but refuses a
// key an object already has and nesting past the limit, and appends each member without the
// ordered map's search for its key (which made a file of many units take quadratic time).
class DocumentBuilder {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null() { return Put(nullptr); }
    bool boolean(bool value) { return Put(value); }
    bool number_integer(number_integer_t value) { return Put(value); }
    bool number_unsigned(number_unsigned_t value) { return Put(value); }
    bool number_float(number_float_t value, const string_t&) { return Put(value); }
    bool string(string_t& value) { return Put(std::move(value)); }
    bool binary(binary_t&) { return Refuse("binary data"); }  // not in JSON text
    bool start_object(std::size_t) { return Open(Json::object()); }
    bool start_array(std::size_t) { return Open(Json::array()); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(string_t& name) {
        Level& level = open_.back();
        if (!level.keys.insert(name).second) {
            return Refuse("the key \"" + name + "\" is given twice in one object");
        }
        level.key = std::move(name);
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const std::exception&) {
        return Refuse("not JSON (at byte " + std::to_string(position) + ")");
    }

    Json TakeDocument() { return std::move(document_); }
    const std::string& Error() const { return error_; }

  private:
    struct Level {
        Json* value;
        std::unordered_set<std::string> keys;  // an object's so far
        std::string key;                       // an object's member to come
    };

    // Where the value goes: the document, the open array's end or the open object's member.
    Json* Put(Json value) {
        if (open_.empty()) {
            document_ = std::move(value);
            return &document_;
        }
        Level& level = open_.back();
        if (level.value->is_array()) {
            auto& elements = level.value->get_ref<Json::array_t&>();
            elements.push_back(std::move(value));
            return &elements.back();
        }
        // The key was checked to be new; the map's own insert would search for it again.
        auto& members =
            static_cast<Json::object_t::Container&>(level.value->get_ref<Json::object_t&>());
        members.emplace_back(std::move(level.key), std::move(value));
        return &members.back().second;
    }
    bool Open(Json container) {
        if (open_.size() >= kMaxInstallationDepth) {
            return Refuse("nested deeper than " + std::to_string(kMaxInstallationDepth) +
                          " levels");
        }
        // Only the open containers' addresses are kept: nothing is added to a parent while a
        // child is open, so they stay valid.
        open_.push_back({Put(std::move(container)), {}, {}});
        return true;
    }
    bool Close() {
        open_.pop_back();
        return true;
    }
    bool Refuse(std::string why) {
        if (error_.empty()) {
            error_ = std::move(why);
        }
        return false;
    }

    Json document_;
    std::vector<Level> open_;
    std::string error_;
};

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxInstallationFileBytes / kMiB) +
           " MiB: not an installation file";
}

// At most limit + 1 bytes of the file, so a larger one is told without reading it all.
std::optional<std::string> ReadAtMost(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace

std::optional<Json> ParseInstallationText(std::string_view text, std::string& error) {
    if (text.size() > kMaxInstallationFileBytes) {
        error = TooLarge();
        return std::nullopt;
    }
    DocumentBuilder builder;
    if (!Json::sax_parse(text, &builder)) {
        error = builder.Error().empty() ? "not JSON" : builder.Error();
        return std::nullopt;
    }
    return builder.TakeDocument();
}

std::string InstallationFileText(const Json& document) {
    constexpr int kIndent = 2;
    return document.dump(kIndent, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<Json> ReadInstallationDocument(const std::string& path, std::string& error) {
    std::error_code sizeError;
    // A regular file that is too large is refused without a read.
    if (std::filesystem::is_regular_file(path, sizeError) &&
        std::filesystem::file_size(path, sizeError) > kMaxInstallationFileBytes) {
        error = path + ": " + TooLarge();
        return std::nullopt;
    }
    const auto text = ReadAtMost(path, kMaxInstallationFileBytes);
    if (!text) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    auto document = ParseInstallationText(*text, error);
    if (!document) {
        error = path + ": " + error;
    }
    return document;
}
