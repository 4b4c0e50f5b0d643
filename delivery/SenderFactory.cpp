#include "delivery/SenderFactory.h"

#include "delivery/ExecSender.h"
#include "delivery/HttpSender.h"
#include "delivery/MailSender.h"
#include "delivery/MqttSender.h"
#include "delivery/TargetConfig.h"

std::unique_ptr<ISender> MakeSender(const CTargetConfig& target) {
    switch (target.scheme) {
    case TargetScheme::kMqtt:
    case TargetScheme::kMqtts: return std::make_unique<CMqttSender>(target);
    case TargetScheme::kHttp:
    case TargetScheme::kHttps: return std::make_unique<CHttpSender>(target);
    case TargetScheme::kSmtp:
    case TargetScheme::kSmtps: return std::make_unique<CMailSender>(target);
    case TargetScheme::kExec: return std::make_unique<CExecSender>(target);
    }
    return nullptr;
}
