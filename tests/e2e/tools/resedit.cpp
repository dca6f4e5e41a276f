// e2e_resedit: rewrites the RCDATA resources of an archive, so that the end-to-end tests can
// make damaged and hostile archives that the packer refuses to write.
//
//   e2e_resedit IN.exe --get NAME=FILE                copies resource NAME into FILE
//   e2e_resedit IN.exe OUT.exe [--drop NAME]... [--set NAME=FILE]...
//                                                     writes OUT.exe without the dropped
//                                                     resources and with NAME holding FILE's
//                                                     bytes (added when there was none)
//
// NAME is an RCDATA name and matches without regard to ASCII case, as FindResourceA does.
// Exit code 0 on success, 1 with a message on stderr otherwise.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource.h"
#include "pe/resource_data.h"
#include "pe/resource_writer.h"

namespace {

using vexa::pe::Resource;
using vexa::pe::ResourceKey;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool IsRcData(const ResourceKey& type) { return !type.IsName() && type.Id == vexa::pe::RtRcData; }

bool SameName(const ResourceKey& key, const std::string& name) {
  if (!key.IsName() || key.Name.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = key.Name[i];
    if (c > 0x7F ||
        std::toupper(static_cast<unsigned char>(c)) != std::toupper(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

std::pair<std::string, std::string> SplitAssignment(const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) throw std::runtime_error("expected NAME=FILE: " + arg);
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

int Run(const std::vector<std::string>& args) {
  if (args.size() < 2) throw std::runtime_error("usage: e2e_resedit IN.exe (--get NAME=FILE | "
                                                "OUT.exe [--drop NAME]... [--set NAME=FILE]...)");
  std::vector<std::uint8_t> bytes = ReadFile(args[0]);
  vexa::pe::PeImage image = vexa::pe::PeImage::Parse(bytes);
  std::vector<Resource> resources = image.Resources();

  if (args[1] == "--get") {
    if (args.size() != 3) throw std::runtime_error("--get takes one NAME=FILE");
    auto [name, file] = SplitAssignment(args[2]);
    for (const vexa::pe::ResourceEntry& entry : image.Entries()) {
      if (IsRcData(entry.Type) && SameName(entry.Name, name)) {
        WriteFile(file, entry.Data);
        return 0;
      }
    }
    throw std::runtime_error("no RCDATA resource " + name);
  }

  const std::string& output = args[1];
  for (size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) throw std::runtime_error(args[i] + " needs a value");
    if (args[i] == "--drop") {
      const std::string& name = args[i + 1];
      auto kept = std::remove_if(resources.begin(), resources.end(), [&](const Resource& r) {
        return IsRcData(r.Type) && SameName(r.Name, name);
      });
      if (kept == resources.end()) throw std::runtime_error("no RCDATA resource " + name);
      resources.erase(kept, resources.end());
    } else if (args[i] == "--set") {
      auto [name, file] = SplitAssignment(args[i + 1]);
      auto data = std::make_shared<vexa::pe::BytesData>(ReadFile(file));
      auto found = std::find_if(resources.begin(), resources.end(), [&](const Resource& r) {
        return IsRcData(r.Type) && SameName(r.Name, name);
      });
      if (found != resources.end())
        found->Data = data;
      else
        resources.push_back({ResourceKey::FromId(vexa::pe::RtRcData), ResourceKey::FromName(name),
                             0, 0, data});
    } else {
      throw std::runtime_error("unknown option " + args[i]);
    }
  }
  vexa::pe::WriteImageWithResources(image, resources, output);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "e2e_resedit: " << e.what() << "\n";
    return 1;
  }
}
