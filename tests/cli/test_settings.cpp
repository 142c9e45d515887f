// What a load and a restore write, for every model and firmware version the
// window knows, over random instrument and file blocks of every length: a
// load takes the file's settings and nothing else, a restore everything but
// the address and the block's last byte, a non-privileged instrument only
// the alarm settings, and every part asked for and not taken is named. A
// comparison of the settings after a load finds nothing left to do, and the
// check of the block read back after the write reports what the write set
// and read back otherwise, never what it left alone or the access mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Apply.h"
#include "Fields.h"

namespace {

using pmset::ByteMask;

ByteMask Union(const std::vector<pmset::Field>& fields, bool (*pick)(const pmset::Field&)) {
  ByteMask m{};
  for (const auto& f : fields)
    if (pick(f))
      for (std::size_t i = 0; i < m.size(); ++i) m[i] |= f.bits[i];
  return m;
}

// Bytes the models do not have as settings, whatever the table says.
bool NeverASetting(int model, int version, int at) {
  if (model == 100) return at <= 4 || at >= 11;                      // КАРД: no range number
  if (model == 103) return at != 5;                                  // ЛУНТ: the break state only
  if (version <= 2) return at >= 19 || at == 12 || at <= 4;          // ЗЕТ 1-2: no non-standard range
  return at == 12 || at == 40 || at <= 4;
}

TEST(SettingsFields, LoadAndRestoreTakeWhatTheFieldTableSays) {
  std::mt19937 random(18);
  std::uniform_int_distribution<int> byte(0, 255), length(1, 40);
  for (int model = 100; model <= 103; ++model)
    for (int version = 1; version <= 6; ++version)
      for (int round = 0; round < 40; ++round) {
        const int typical = model == 101 || model == 102 ? (version >= 3 ? 40 : 20) : 16;
        const int n = round < 10 ? typical : length(random);
        std::vector<std::uint8_t> source(static_cast<std::size_t>(n)), target(source.size());
        for (auto* b : {&source, &target}) std::generate(b->begin(), b->end(), [&] { return byte(random); });
        const auto fields = pmset::Describe({model, version, target, pmset::Access::Privileged});
        const ByteMask settings = Union(fields, [](const pmset::Field& f) { return f.kind == pmset::Kind::Setting; });
        const ByteMask alarms = Union(fields, [](const pmset::Field& f) { return f.operatorMay; });
        for (const auto scope : {pmset::Scope::Settings, pmset::Scope::Everything})
          for (const bool nonPriv : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "model " << model << " v" << version << " L=" << n << " scope "
                                              << static_cast<int>(scope) << " nonpriv " << nonPriv);
            TProgPMClass pm;
            pm.SetLen(n);
            std::copy(target.begin(), target.end(), pm.Image.begin() + 1);
            pm.DevType = model;
            pm.Version = version;
            pm.NonPriv = nonPriv;
            pmset::Snapshot file;
            file.model = model;
            file.version = version;
            file.block = source;
            const pmset::Applied applied = pmset::Apply(file, pm, scope);

            std::vector<std::string> missed;
            for (int at = 1; at <= n; ++at) {
              const auto i = static_cast<std::size_t>(at);
              const bool own = at == 12 || at == n;
              std::uint8_t take = scope == pmset::Scope::Settings ? settings[i] : (own ? 0 : 0xFF);
              const std::uint8_t asked = take;
              if (nonPriv) take &= alarms[i];
              if ((scope == pmset::Scope::Settings && NeverASetting(model, version, at)) || own) {
                EXPECT_EQ(take, 0) << "byte " << at;
              }
              EXPECT_EQ(pm.Image[i], (target[i - 1] & ~take) | (source[i - 1] & take)) << "byte " << at;
              if ((source[i - 1] ^ target[i - 1]) & asked & ~take) missed.push_back(std::to_string(at));
            }
            // The instrument as read back: the written bits as sent, the rest
            // whatever it holds now, and either access mode.
            const std::vector<std::uint8_t> sent(pm.Image.begin() + 1, pm.Image.begin() + 1 + n);
            std::vector<std::uint8_t> back(sent);
            for (int at = 1; at <= n; ++at) {
              const std::uint8_t kept = applied.wrote[static_cast<std::size_t>(at)];
              auto& b = back[static_cast<std::size_t>(at - 1)];
              b = static_cast<std::uint8_t>((b & kept) | (byte(random) & ~kept));
            }
            const auto access = [](bool np) { return np ? pmset::Access::NonPrivileged : pmset::Access::Privileged; };
            const pmset::BlockView sentView{model, version, sent, access(nonPriv)};
            EXPECT_TRUE(pmset::ReadBackDifferences(sentView, {model, version, back, access(!nonPriv)}, applied.wrote)
                            .empty());
            const auto written = std::find_if(applied.wrote.begin() + 1, applied.wrote.begin() + 1 + n,
                                              [](std::uint8_t m) { return m != 0; });
            if (written != applied.wrote.begin() + 1 + n) {
              const auto at = static_cast<std::size_t>(written - applied.wrote.begin());
              back[at - 1] ^= static_cast<std::uint8_t>(*written & -*written);  // its lowest written bit
              const auto rows = pmset::ReadBackDifferences(sentView, {model, version, back, access(nonPriv)}, applied.wrote);
              EXPECT_FALSE(rows.empty()) << "byte " << at;
            }
            // Whatever was asked and not taken is named; nothing else is.
            EXPECT_EQ(applied.notApplied.empty(), missed.empty());
            if (!nonPriv) {
              EXPECT_TRUE(applied.notApplied.empty());
            }
            if (scope == pmset::Scope::Settings && !nonPriv) {
              const std::vector<std::uint8_t> now(pm.Image.begin() + 1, pm.Image.begin() + 1 + n);
              for (const auto& row : pmset::Compare({model, version, now, pmset::Access::Privileged},
                                                    {model, version, source, pmset::Access::Privileged},
                                                    pmset::Part::Settings))
                EXPECT_FALSE(row.differs) << row.label;
            }
          }
      }
}

}  // namespace
