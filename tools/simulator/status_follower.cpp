#include "tools/simulator/status_follower.hpp"

#include "tools/statewarden_ctl/status_text.hpp"

namespace tarn1::simulator
{

namespace
{

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
    {
        text += (text.empty() ? "" : " | ") + line;
    }
    return text;
}

} // namespace

Status_follower::Status_follower(Journal& journal)
    : m_journal(journal)
{
    m_search = m_finder.start_find_service(
        [this](const std::vector<kest::com::cpp_binding::Service_handle>& handles) { on_found(handles); },
        vela::com::runtime::Service_id(Proxy::service_identifier()),
        vela::com::runtime::Instance_id(vela::ap::statemanager::StateManagementStatusInterface::instance()));
}

Status_follower::~Status_follower()
{
    // Once the search has stopped nothing makes a proxy any more; its destructor waits for a
    // receive handler that runs.
    m_finder.stop_find_service(m_search);
    m_proxy.reset();
}

void Status_follower::refresh()
{
    Proxy* proxy = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        proxy = m_proxy.get();
    }
    if (proxy != nullptr)
    {
        ask_holders(*proxy);
    }
}

void Status_follower::on_found(const std::vector<kest::com::cpp_binding::Service_handle>& handles)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handles.empty() || m_proxy)
    {
        return;
    }
    m_proxy = std::make_unique<Proxy>(handles.front());
    Proxy* proxy = m_proxy.get();
    proxy->TransitionReport.SetReceiveHandler([this, proxy] { on_reports(*proxy); });
    proxy->TransitionReport.Subscribe(16);
    ask_holders(*proxy);
}

void Status_follower::on_reports(Proxy& proxy)
{
    proxy.TransitionReport.Update();
    for (const auto& report : proxy.TransitionReport.GetCachedSamples())
    {
        m_journal.add("report", tarn1::statewarden_ctl::watch_line(report));
        const auto lines = tarn1::statewarden_ctl::client_lines(report);
        if (!lines.empty())
        {
            m_journal.add("round", joined(lines));
        }
    }
    proxy.TransitionReport.Cleanup();
    ask_holders(proxy);
}

void Status_follower::ask_holders(Proxy& proxy)
{
    try
    {
        proxy.GetHolders().then(
            [this](vela::com::Future<vela::ap::statemanager::status::Holders_reply> done)
            {
                try
                {
                    const auto lines = tarn1::statewarden_ctl::holder_lines(done.get());
                    m_journal.add("holders", lines.empty() ? std::string("none") : joined(lines));
                }
                catch (const std::exception&)
                {
                    // The daemon went away meanwhile; the next change asks again.
                }
            });
    }
    catch (const std::exception&)
    {
    }
}

} // namespace tarn1::simulator
