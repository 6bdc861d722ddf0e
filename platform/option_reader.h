#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mub {

// Walks a command's arguments one at a time. An option's value comes either
// as the next argument ("--port COM3") or after an equals sign
// ("--port=COM3"); a flag takes none.
class OptionReader {
public:
    explicit OptionReader(const std::vector<std::string>& args) : args_(args) {}

    // Moves to the next argument; false once all were read.
    bool next() {
        if (++at_ >= args_.size()) return false;
        name_ = args_[at_];
        inlineValue_.reset();
        if (name_.rfind("--", 0) == 0) {
            const std::size_t eq = name_.find('=');
            if (eq != std::string::npos) {
                inlineValue_ = name_.substr(eq + 1);
                name_.resize(eq);
            }
        }
        return true;
    }

    // The argument, an option without its "=value".
    const std::string& name() const { return name_; }
    // The argument as given.
    const std::string& given() const { return args_[at_]; }
    bool isOption() const { return name_.size() > 1 && name_[0] == '-'; }

    bool value(std::string& target, std::string& error) {
        if (inlineValue_) {
            target = *inlineValue_;
            return true;
        }
        if (at_ + 1 >= args_.size()) {
            error = name_ + " needs a value";
            return false;
        }
        target = args_[++at_];
        return true;
    }

    // A value that may not be empty: "--log needs a file" for `what` "a file".
    bool nonEmptyValue(std::string& target, const std::string& what, std::string& error) {
        if (!value(target, error)) return false;
        if (!target.empty()) return true;
        error = name_ + " needs " + what;
        return false;
    }

    bool flag(bool& target, std::string& error) {
        if (inlineValue_) {
            error = name_ + " takes no value";
            return false;
        }
        target = true;
        return true;
    }

private:
    const std::vector<std::string>& args_;
    std::size_t at_ = static_cast<std::size_t>(-1);
    std::string name_;
    std::optional<std::string> inlineValue_;
};

} // namespace mub
