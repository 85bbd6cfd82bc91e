#pragma once

#include <boost/archive/text_iarchive.hpp>
#include <cstddef>
#include <istream>
#include <string>

namespace vela::iam
{

/// A text input archive that refuses any string whose stored length exceeds a bound, before
/// allocating for it. Everything else reads exactly as boost::archive::text_iarchive does.
class Bounded_text_iarchive final : public boost::archive::text_iarchive_impl<Bounded_text_iarchive>
{
  public:
    /// Reads (and checks) the archive header at once; throws on a bad one.
    Bounded_text_iarchive(std::istream& stream, std::size_t max_string_length);
    ~Bounded_text_iarchive() override = default;

  private:
    friend class boost::archive::detail::interface_iarchive<Bounded_text_iarchive>;
    friend class boost::archive::basic_text_iarchive<Bounded_text_iarchive>;
    friend class boost::archive::load_access;

    using boost::archive::text_iarchive_impl<Bounded_text_iarchive>::load;
    void load(std::string& text);

    std::size_t m_max_string_length;
};

} // namespace vela::iam
