#pragma once
// What the three recorders do with a finished visit: apply the category's rules, write a
// journal entry and update the item's ranking record (files through FileRanking, web pages
// through their shortcut file, mail items through the mail add-in's ranking object).
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "context/context.h"
#include "platform/browser/url_history.h"
#include "tracer/detection/category_rules.h"
#include "tracer/recorders.h"
#include "tracer/recording/mail_ranking.h"

namespace qv::tracer {

// Shared by the writers: the context (its class registry holds FileRanking, Journal,
// KivUrlmon and BaseActivation) and the recorders' stop, which cancels page downloads.
struct WriterHost {
  const Context& ctx;
  std::stop_token stop;
};

class FileWriter final : public VisitWriter {
 public:
  explicit FileWriter(WriterHost host) : host_(std::move(host)) {}
  void Record(const Visit& visit) override;

 private:
  WriterHost host_;
};

class WebWriter final : public VisitWriter {
 public:
  // `history` is the browser's URL history (page titles); null when it cannot be opened.
  WebWriter(WriterHost host, std::shared_ptr<platform::UrlHistory> history)
      : host_(std::move(host)), history_(std::move(history)) {}
  void Record(const Visit& visit) override;

 private:
  WriterHost host_;
  std::shared_ptr<platform::UrlHistory> history_;
};

class MailWriter final : public VisitWriter {
 public:
  MailWriter(WriterHost host, std::shared_ptr<RunningObjectTable> rot, std::string logonId)
      : host_(std::move(host)), rot_(std::move(rot)), logonId_(std::move(logonId)) {}
  void Record(const Visit& visit) override;

 private:
  WriterHost host_;
  std::shared_ptr<RunningObjectTable> rot_;
  std::string logonId_;
};

// When a tracked file visit opens: keeps the file's valid ranking set with the visit.
void TakeRankingSnapshot(const Context& ctx, Visit& visit);

// The local path of a file visit's identifier: a file URL, or an absolute path as document
// detection reports it. Empty when it is neither or longer than the platform allows.
std::string VisitPath(std::string_view identifier);

}  // namespace qv::tracer
