// The servant the service registers: AccountInfoI plus the record handler
// that feeds the storage pipeline and the on-line export.
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H

#include <string>

#include "account/AccountInfoI.h"

class AccountInfoWriterI : public AccountInfoI {
 public:
  AccountInfoWriterI(const Ice::CommunicatorPtr& communicator, const std::string& path,
                     const std::string& upPath);
  virtual ~AccountInfoWriterI();

  virtual void GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                     const Ice::Current& current);
  virtual void handleRecord(const Ice::ByteSeq& record);
  virtual void processRecord(const void* data, int length);

 private:
  std::string path;          // expanded "tesselServiceIA.Path"
  std::string upPath;        // expanded "tesselServiceIA.upPath": the IA output directory
  std::string qqRecordPath;  // expanded "QQRecordFilePath"
};

typedef IceUtil::Handle<AccountInfoWriterI> AccountInfoWriterIPtr;

#endif
